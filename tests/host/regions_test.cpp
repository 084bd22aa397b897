// The walk over the frame region table: in place, bounded by the table's size,
// stopping at a record whose header is not well formed.
#include "sprite/sprite.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {
struct Record {
    uint32_t count;  // rectangles
    uint32_t filler; // bytes behind them
    // header fields as written; 0 means the well-formed value
    uint32_t length = 0, headerSize = 0, type = 0, bufferSize = 0, countField = 0;
};

void Put32(std::vector<BYTE> &bytes, uint32_t value)
{
    BYTE le[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    bytes.insert(bytes.end(), le, le + 4);
}

// Appends one record; returns its offset.
size_t Write(std::vector<BYTE> &table, const Record &r)
{
    size_t at = table.size();
    Put32(table, r.length ? r.length : 32 + 16 * r.count);
    Put32(table, r.headerSize ? r.headerSize : 32);
    Put32(table, r.type ? r.type : 1);
    Put32(table, r.countField ? r.countField : r.count);
    Put32(table, r.bufferSize ? r.bufferSize : 16 * r.count + r.filler);
    for (int32_t v : {1, 2, 40, 3 + static_cast<int32_t>(r.count)}) // rcBound
        Put32(table, static_cast<uint32_t>(v));
    for (uint32_t i = 0; i < r.count; ++i)
        for (int32_t v : {1, 2 + static_cast<int32_t>(i), 40, 3 + static_cast<int32_t>(i)})
            Put32(table, static_cast<uint32_t>(v));
    table.insert(table.end(), r.filler, 0xEE);
    return at;
}

const FrameRegionEntry Untouched{0xDEAD, &Untouched};

struct Walk {
    std::vector<BYTE> table;
    std::vector<size_t> offsets;
    std::vector<FrameRegionEntry> entries;
    uint16_t indexed = 0;

    Walk(std::initializer_list<Record> records, uint16_t count, size_t cut = 0)
    {
        for (const Record &r : records)
            offsets.push_back(Write(table, r));
        table.resize(table.size() - cut);
        table.shrink_to_fit(); // the sanitizer then sees any read past the end
        entries.assign(count, Untouched);
        indexed = IndexFrameRegions(table.data(), table.size(), count, entries.data());
    }
    // Entry i points at record i's RGNDATA and carries its length.
    void ExpectIndexed(size_t i, uint32_t rectangles) const
    {
        EXPECT_EQ(entries[i].length, 32 + 16 * rectangles) << "entry " << i;
        EXPECT_EQ(entries[i].data, table.data() + offsets[i] + 4) << "entry " << i;
    }
    void ExpectEmptyFrom(size_t first) const
    {
        for (size_t i = first; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].length, 0u) << "entry " << i;
            EXPECT_EQ(entries[i].data, nullptr) << "entry " << i;
        }
    }
};
} // namespace

TEST(FrameRegions, WalksWellFormedRecordsSkippingTheFiller)
{
    Walk walk({{3, 336}, {1, 0}, {5, 8}}, 3);
    EXPECT_EQ(walk.indexed, 3);
    walk.ExpectIndexed(0, 3);
    walk.ExpectIndexed(1, 1); // no filler: the next record follows the rectangles
    walk.ExpectIndexed(2, 5);
}

TEST(FrameRegions, CountZeroLeavesTheEntriesUntouched)
{
    std::vector<BYTE> table;
    Write(table, {2, 8});
    FrameRegionEntry entry = Untouched;
    EXPECT_EQ(IndexFrameRegions(table.data(), table.size(), 0, &entry), 0);
    EXPECT_EQ(entry.length, Untouched.length);
    EXPECT_EQ(entry.data, Untouched.data);
}

TEST(FrameRegions, StopsAtTheEndOfTheTable)
{
    struct Case {
        const char *what;
        size_t cut; // bytes taken off the end of two 3-rectangle records with 16 filler
        uint16_t indexed;
    } cases[] = {
        {"more entries asked for than records", 0, 2},
        {"last record's filler cut short", 1, 1},
        {"last record cut inside its rectangles", 40, 1},
        {"only part of the last record's header left", 80, 1},
        {"nothing of the last record left", 100, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Walk walk({{3, 16}, {3, 16}}, 4, c.cut);
        EXPECT_EQ(walk.indexed, c.indexed);
        for (uint16_t i = 0; i < c.indexed; ++i)
            walk.ExpectIndexed(i, 3);
        walk.ExpectEmptyFrom(c.indexed);
    }

    FrameRegionEntry entries[2] = {Untouched, Untouched}; // no table at all
    EXPECT_EQ(IndexFrameRegions(nullptr, 0, 2, entries), 0);
    EXPECT_EQ(entries[0].length, 0u);
    EXPECT_EQ(entries[1].data, nullptr);
}

TEST(FrameRegions, StopsAtAMalformedRecord)
{
    struct Case {
        const char *what;
        Record bad;
    } cases[] = {
        {"header size not 32", {2, 8, 0, 40}},
        {"type not rectangles", {2, 8, 0, 0, 2}},
        {"length not 32 + 16 per rectangle", {2, 8, 80}},
        {"buffer smaller than its rectangles", {2, 8, 0, 0, 0, 16}},
        {"buffer running past the end", {2, 8, 0, 0, 0, 0xFFFFFFF0}},
        // 16 x 0x10000000 wraps to 0 in 32 bits, which would make length 32 look right
        {"rectangle count overflowing the length", {0, 8, 0, 0, 0, 0, 0x10000000}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Walk walk({{4, 8}, c.bad, {4, 8}}, 3);
        EXPECT_EQ(walk.indexed, 1);
        walk.ExpectIndexed(0, 4);
        walk.ExpectEmptyFrom(1);
    }
}
