#!/usr/bin/env bash
# Runs the fuzz targets that the host tree builds (build/host/fuzz), each for
# SECONDS seconds: first every seed of tests/fuzz/corpus/TARGET and whatever
# earlier runs kept in build/host/fuzz/corpus/TARGET, then new inputs. Prints
# one line per target; a target that crashes or breaks a property leaves the
# input in build/host/fuzz/crashes/ and the script fails.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 10 s, every target)
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIR=${NELKO_FUZZ_DIR:-$ROOT/build/host/fuzz}
SECONDS_EACH=${1:-10}
shift $(($# > 0 ? 1 : 0))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$ROOT"/tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

failed=0
for target in "${targets[@]}"; do
  exe=$DIR/${target}_fuzz
  [ -x "$exe" ] || { echo "fuzz: $exe missing: build the host tree first" >&2; exit 1; }
  kept=$DIR/corpus/$target
  mkdir -p "$kept" "$DIR/crashes" "$DIR/logs"
  log=$DIR/logs/$target-${SECONDS_EACH}s.log # a long run beside ./test keeps its own
  dict=()
  [ -f "$ROOT/tests/fuzz/$target.dict" ] && dict=(-dict="$ROOT/tests/fuzz/$target.dict")
  # The channel's targets take inputs past two of its longest lines (64 KiB
  # each, a full MENU line among them), a service's a full menu's block, the
  # grammar's a full menu's phrases: libFuzzer's default (4096) would cut them.
  max_len=()
  case $target in channel | hub | servicecore | grammar) max_len=(-max_len=140000) ;; esac
  "$exe" -max_total_time="$SECONDS_EACH" -timeout=10 -print_final_stats=1 "${dict[@]}" "${max_len[@]}" \
    -artifact_prefix="$DIR/crashes/$target-" "$kept" "$ROOT/tests/fuzz/corpus/$target" \
    >"$log" 2>&1
  status=$?
  runs=$(LC_ALL=C sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
  cover=$(grep -aoE 'cov: [0-9]+' "$log" | tail -n 1)
  if [ $status -eq 0 ]; then
    echo "$target: ${runs:-?} runs in $SECONDS_EACH s, ${cover:-cov: ?}, corpus $(ls "$kept" | wc -l) kept"
  else
    failed=1
    tail -n 40 "$log"
    echo "$target: FAILED (log: $log; input in $DIR/crashes/)"
  fi
done
exit $failed
