#include "tools/regions.h"

#include <algorithm>

namespace {

typedef std::vector<std::pair<int32_t, int32_t>> Spans; // [left, right) of one row

Spans RowSpans(const uint8_t *row, int width)
{
    Spans spans;
    for (int x = 0; x < width;) {
        if (!row[x]) {
            x++;
            continue;
        }
        int start = x;
        while (x < width && row[x])
            x++;
        spans.emplace_back(start, x);
    }
    return spans;
}

void PutRect(Bytes &out, const RegionRect &r)
{
    PutU32(out, r.left), PutU32(out, r.top), PutU32(out, r.right), PutU32(out, r.bottom);
}

RegionRect ReadRect(const uint8_t *p)
{
    return RegionRect{GetI32(p), GetI32(p + 4), GetI32(p + 8), GetI32(p + 12)};
}

std::string Describe(const RegionRect &r)
{
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

bool SameSpans(const std::vector<RegionRect> &rects, size_t a, size_t b, size_t n)
{
    for (size_t k = 0; k < n; k++)
        if (rects[a + k].left != rects[b + k].left || rects[a + k].right != rects[b + k].right)
            return false;
    return true;
}

} // namespace

std::vector<RegionRect> RectsFromMask(const uint8_t *mask, int stride, int width, int height)
{
    std::vector<RegionRect> rects;
    int y = 0;
    while (y < height) {
        Spans spans = RowSpans(mask + size_t(y) * stride, width);
        int top = y++;
        while (y < height && RowSpans(mask + size_t(y) * stride, width) == spans)
            y++;
        for (const auto &s : spans)
            rects.push_back(RegionRect{s.first, top, s.second, y});
    }
    return rects;
}

void AppendRegionRecord(Bytes &table, const std::vector<RegionRect> &rects, uint32_t filler)
{
    RegionRect bound{0, 0, 0, 0};
    if (!rects.empty()) {
        bound = rects[0];
        for (const RegionRect &r : rects) {
            bound.left = std::min(bound.left, r.left), bound.top = std::min(bound.top, r.top);
            bound.right = std::max(bound.right, r.right);
            bound.bottom = std::max(bound.bottom, r.bottom);
        }
    }
    uint32_t count = rects.size();
    PutU32(table, RegionHeaderSize + 16 * count); // length handed to the region call
    PutU32(table, RegionHeaderSize);
    PutU32(table, RegionRectangles);
    PutU32(table, count);
    PutU32(table, 16 * count + filler); // nRgnSize counts the filler
    PutRect(table, bound);
    for (const RegionRect &r : rects)
        PutRect(table, r);
    table.insert(table.end(), filler, 0);
}

Bytes RegionTableFromMask(const uint8_t *mask, int stripWidth, int height, int frameWidth,
                          int frameCount)
{
    Bytes table;
    for (int i = 0; i < frameCount; i++)
        AppendRegionRecord(table,
                           RectsFromMask(mask + i * frameWidth, stripWidth, frameWidth, height),
                           RegionFiller);
    return table;
}

Bytes RegionTableFromStrip(const IndexedImage &strip, int frameWidth, int frameCount)
{
    uint8_t background = strip.pixels[0];
    std::vector<uint8_t> mask(strip.pixels.size());
    for (size_t i = 0; i < mask.size(); i++)
        mask[i] = strip.pixels[i] != background;
    return RegionTableFromMask(mask.data(), strip.width, strip.height, frameWidth, frameCount);
}

bool ReadRegionRecord(const uint8_t *table, size_t size, size_t offset, RegionRecord *record,
                      std::string *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = std::string(what) + " in the record at " + std::to_string(offset);
        return false;
    };
    if (offset > size || size - offset < RegionRecordHead)
        return fail("header past the end of the table");
    const uint8_t *p = table + offset;
    RegionRecord r;
    r.length = GetU32(p);
    r.dwSize = GetU32(p + 4);
    r.iType = GetU32(p + 8);
    r.nCount = GetU32(p + 12);
    r.nRgnSize = GetU32(p + 16);
    r.bound = ReadRect(p + 20);
    if (r.nRgnSize > size - offset - RegionRecordHead)
        return fail("rectangles and filler past the end of the table");
    if (r.nCount > r.nRgnSize / 16)
        return fail("more rectangles than nRgnSize holds");
    for (uint32_t i = 0; i < r.nCount; i++)
        r.rects.push_back(ReadRect(p + RegionRecordHead + 16 * i));
    r.next = offset + RegionRecordHead + r.nRgnSize;
    *record = std::move(r);
    return true;
}

std::string CheckRegionRecord(const RegionRecord &r, int frameWidth, int frameHeight)
{
    if (r.dwSize != RegionHeaderSize)
        return "dwSize " + std::to_string(r.dwSize);
    if (r.iType != RegionRectangles)
        return "iType " + std::to_string(r.iType);
    if (r.length != RegionHeaderSize + 16 * r.nCount)
        return "length " + std::to_string(r.length) + " for " + std::to_string(r.nCount);
    if (r.nRgnSize < 16 * r.nCount || r.rects.size() != r.nCount)
        return "nRgnSize " + std::to_string(r.nRgnSize) + " too small";
    const std::vector<RegionRect> &rects = r.rects;
    RegionRect bound{0, 0, 0, 0};
    for (size_t i = 0; i < rects.size(); i++) {
        const RegionRect &q = rects[i];
        if (q.left >= q.right || q.top >= q.bottom)
            return "empty rectangle " + Describe(q);
        if (q.left < 0 || q.top < 0 || q.right > frameWidth || q.bottom > frameHeight)
            return "rectangle outside the frame " + Describe(q);
        bound = i == 0
                    ? q
                    : RegionRect{std::min(bound.left, q.left), std::min(bound.top, q.top),
                                 std::max(bound.right, q.right), std::max(bound.bottom, q.bottom)};
    }
    // Bands: runs of rectangles sharing top and bottom, left to right, apart.
    std::vector<std::pair<size_t, size_t>> bands; // [first, end)
    for (size_t i = 0; i < rects.size(); i++) {
        if (!bands.empty() && rects[i].top == rects[i - 1].top &&
            rects[i].bottom == rects[i - 1].bottom) {
            if (rects[i].left <= rects[i - 1].right)
                return "rectangles touch or run backwards in a band at " + Describe(rects[i]);
            bands.back().second = i + 1;
        } else {
            bands.emplace_back(i, i + 1);
        }
    }
    for (size_t b = 1; b < bands.size(); b++) {
        const RegionRect &above = rects[bands[b - 1].first], &below = rects[bands[b].first];
        if (below.top < above.bottom)
            return "bands overlap or run upwards at " + Describe(below);
        size_t n = bands[b].second - bands[b].first;
        if (below.top == above.bottom && n == bands[b - 1].second - bands[b - 1].first &&
            SameSpans(rects, bands[b - 1].first, bands[b].first, n))
            return "touching bands with the same spans at " + Describe(below);
    }
    if (!(bound == r.bound))
        return "rcBound " + Describe(r.bound) + ", rectangles span " + Describe(bound);
    return "";
}
