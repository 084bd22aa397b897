// Frame region records: the pixel rule, the record writer and reader, and the
// invariants every record keeps.
#include "tools/regions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

struct Mask {
    int width, height;
    std::vector<uint8_t> bits;
};

Mask FromRows(std::vector<const char *> rows)
{
    Mask m{int(std::strlen(rows[0])), int(rows.size()), {}};
    for (const char *row : rows)
        for (int x = 0; x < m.width; x++)
            m.bits.push_back(row[x] == '#');
    return m;
}

std::string Describe(const std::vector<RegionRect> &rects)
{
    std::string s;
    for (const RegionRect &r : rects)
        s += "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
             std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
    return s;
}

RegionRecord Read(const Bytes &table, size_t offset = 0)
{
    RegionRecord r;
    std::string error;
    EXPECT_TRUE(ReadRegionRecord(table.data(), table.size(), offset, &r, &error)) << error;
    return r;
}

} // namespace

TEST(RegionRule, BandsOfMaximalSpans)
{
    struct Case {
        const char *what;
        std::vector<const char *> rows;
        std::vector<RegionRect> rects;
    } cases[] = {
        {"nothing", {"....", "...."}, {}},
        {"one pixel", {"....", "..#."}, {{2, 1, 3, 2}}},
        {"equal rows make one band", {".##.", ".##.", ".##."}, {{1, 0, 3, 3}}},
        {"two spans in a band", {"#..##", "#..##"}, {{0, 0, 1, 2}, {3, 0, 5, 2}}},
        {"a changed row starts a band", {".##..", ".###.", ".###."}, {{1, 0, 3, 1}, {1, 1, 4, 3}}},
        {"an empty row splits equal spans into two bands",
         {"##.", "...", "##."},
         {{0, 0, 2, 1}, {0, 2, 2, 3}}},
        {"full width, then the last column", {"####", "...#"}, {{0, 0, 4, 1}, {3, 1, 4, 2}}},
        {"back to earlier spans is a new band",
         {"#.", ".#", "#."},
         {{0, 0, 1, 1}, {1, 1, 2, 2}, {0, 2, 1, 3}}},
    };
    for (const Case &c : cases) {
        Mask m = FromRows(c.rows);
        EXPECT_EQ(Describe(RectsFromMask(m.bits.data(), m.width, m.width, m.height)),
                  Describe(c.rects))
            << c.what;
    }
}

TEST(RegionRecord, WrittenAndReadBack)
{
    std::vector<RegionRect> rects = {{31, 6, 34, 10}, {2, 10, 5, 12}, {40, 10, 60, 12}};
    Bytes table;
    AppendRegionRecord(table, rects, 8);
    AppendRegionRecord(table, {{1, 2, 3, 4}}, 0); // no filler at all
    ASSERT_EQ(table.size(), 36u + 48 + 8 + 36 + 16);

    RegionRecord first = Read(table);
    EXPECT_EQ(first.length, 32u + 48);
    EXPECT_EQ(first.dwSize, 32u);
    EXPECT_EQ(first.iType, 1u);
    EXPECT_EQ(first.nCount, 3u);
    EXPECT_EQ(first.nRgnSize, 48u + 8); // counts the filler
    EXPECT_EQ(Describe({first.bound}), Describe({{2, 6, 60, 12}}));
    EXPECT_EQ(Describe(first.rects), Describe(rects));
    EXPECT_EQ(first.next, 36u + 56); // past the filler, not just past length
    EXPECT_EQ(CheckRegionRecord(first, 64, 128), "");

    RegionRecord second = Read(table, first.next);
    EXPECT_EQ(second.nRgnSize, 16u);
    EXPECT_EQ(second.next, table.size()); // an empty filler: 36 + 16 x nCount
    EXPECT_EQ(CheckRegionRecord(second, 64, 128), "");

    RegionRecord r;
    EXPECT_FALSE(ReadRegionRecord(table.data(), table.size() - 1, first.next, &r, nullptr))
        << "cut short";
    EXPECT_FALSE(ReadRegionRecord(table.data(), table.size(), table.size() - 20, &r, nullptr))
        << "header cut";
}

TEST(RegionRecord, CheckFindsBrokenRecords)
{
    // A good record of two bands: one span, then two.
    Bytes table;
    AppendRegionRecord(table, {{10, 0, 20, 5}, {8, 5, 12, 9}, {15, 5, 22, 9}}, 8);
    RegionRecord good = Read(table);
    ASSERT_EQ(CheckRegionRecord(good, 64, 128), "");
    EXPECT_EQ(CheckRegionRecord(good, 22, 9), "") << "rectangles may reach the right and bottom";

    struct Case {
        const char *what;
        std::function<void(RegionRecord &)> spoil;
    } cases[] = {
        {"dwSize", [](RegionRecord &r) { r.dwSize = 36; }},
        {"iType", [](RegionRecord &r) { r.iType = 2; }},
        {"length", [](RegionRecord &r) { r.length += 16; }},
        {"nRgnSize smaller than the rectangles", [](RegionRecord &r) { r.nRgnSize = 32; }},
        {"rcBound one too wide", [](RegionRecord &r) { r.bound.right++; }},
        {"rcBound one too low", [](RegionRecord &r) { r.bound.top++; }},
        {"empty rectangle", [](RegionRecord &r) { r.rects[0].right = r.rects[0].left; }},
        {"past the right edge", [](RegionRecord &r) { r.rects[2].right = 65, r.bound.right = 65; }},
        {"above the top", [](RegionRecord &r) { r.rects[0].top = -1, r.bound.top = -1; }},
        {"spans touching in a band", [](RegionRecord &r) { r.rects[1].right = 15; }},
        {"spans right to left", [](RegionRecord &r) { std::swap(r.rects[1], r.rects[2]); }},
        {"bands bottom to top",
         [](RegionRecord &r) {
             r.rects = {{8, 5, 12, 9}, {15, 5, 22, 9}, {10, 0, 20, 5}};
         }},
        {"touching bands with the same spans",
         [](RegionRecord &r) {
             r.rects = {{10, 0, 20, 5}, {10, 5, 20, 9}};
             r.nCount = 2, r.length = 64, r.bound = {10, 0, 20, 9};
         }},
    };
    for (const Case &c : cases) {
        RegionRecord bad = good;
        c.spoil(bad);
        EXPECT_NE(CheckRegionRecord(bad, 64, 128), "") << c.what;
    }
}

TEST(RegionTable, FromStripByThePixelRule)
{
    // Two frames 3 wide: the background is whatever the top-left pixel holds.
    IndexedImage strip(6, 2, 117);
    strip.At(1, 0) = 5, strip.At(4, 1) = 0, strip.At(5, 1) = 117;
    Bytes table = RegionTableFromStrip(strip, 3, 2);
    RegionRecord first = Read(table), second = Read(table, first.next);
    EXPECT_EQ(Describe(first.rects), Describe({{1, 0, 2, 1}}));
    EXPECT_EQ(Describe(second.rects), Describe({{1, 1, 2, 2}})); // index 0 is figure too
    EXPECT_EQ(second.next, table.size());
}
