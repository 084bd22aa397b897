// The frame region table, any bytes, walked by both of its readers: the
// program's index (each entry must lie inside the table) and the art tools'
// record reader and check. Every record the tools' check passes, in an
// unbroken run from the start, the program indexes the same way.
#include "sprite/sprite.h"
#include "tests/fuzz/fuzz.h"
#include "tools/figure.h"
#include "tools/regions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr uint16_t MaxFrames = 128;
    FrameRegionEntry entries[MaxFrames];
    const uint16_t indexed = IndexFrameRegions(size ? data : nullptr, size, MaxFrames, entries);
    for (uint16_t i = 0; i < MaxFrames; ++i) {
        const uint8_t *region = static_cast<const uint8_t *>(entries[i].data);
        if (i >= indexed) {
            Require(!region && entries[i].length == 0, "an entry past the walk filled");
            continue;
        }
        Require(region >= data + 4 && region <= data + size &&
                    entries[i].length <= size_t(data + size - region),
                "an entry outside the table");
    }
    size_t at = 0;
    bool unbroken = true;
    for (uint16_t i = 0; i < MaxFrames; ++i) {
        RegionRecord record;
        if (!ReadRegionRecord(data, size, at, &record, nullptr))
            break;
        unbroken = unbroken && CheckRegionRecord(record, StripFrameWidth, StripFrameHeight).empty();
        if (unbroken)
            Require(i < indexed && entries[i].length == record.length &&
                        entries[i].data == data + at + 4,
                    "a good record the program does not index");
        at = record.next;
    }
    return 0;
}
