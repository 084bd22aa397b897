// The frame region table: one record per frame, each the frame's figure
// pixels as band-ordered rectangles behind a region data header. The one
// writer and the one reader of the record, and the pixel rule that derives
// the table from the frame strip.
#pragma once

#include "common/bytes.h"
#include "tools/image.h"

#include <string>

struct RegionRect {
    int32_t left, top, right, bottom;
    bool operator==(const RegionRect &o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

enum : uint32_t {
    RegionHeaderSize = 32, // dwSize
    RegionRectangles = 1,  // iType, RDH_RECTANGLES
    RegionRecordHead = 36, // length field and header
    RegionFiller = 8,      // unused bytes behind each record's rectangles
};

// The rectangles covering the set pixels of a width x height mask (row-major,
// top-down, non-zero = figure): bands of identical spans, each band a maximal
// run of rows, each span a maximal run of pixels, in band order.
std::vector<RegionRect> RectsFromMask(const uint8_t *mask, int stride, int width, int height);

// Appends one record: length, header, rectangles and filler bytes.
void AppendRegionRecord(Bytes &table, const std::vector<RegionRect> &rects, uint32_t filler);

// The table for a strip of frameCount frames of frameWidth, the figure being
// every pixel that is set in the mask.
Bytes RegionTableFromMask(const uint8_t *mask, int stripWidth, int height, int frameWidth,
                          int frameCount);

// The same by the pixel rule: the figure is every pixel whose index differs
// from the strip's top-left pixel.
Bytes RegionTableFromStrip(const IndexedImage &strip, int frameWidth, int frameCount);

struct RegionRecord {
    uint32_t length, dwSize, iType, nCount, nRgnSize;
    RegionRect bound;
    std::vector<RegionRect> rects;
    size_t next; // offset of the record after this one
};

// Reads the record at offset; fails when it does not fit in the table.
bool ReadRegionRecord(const uint8_t *table, size_t size, size_t offset, RegionRecord *record,
                      std::string *error);

// Checks the invariants every record keeps (header fields, lengths, rectangles
// non-empty and inside the frame, band order, maximal bands, exact bound).
// Returns an empty string when all hold, else what is wrong.
std::string CheckRegionRecord(const RegionRecord &record, int frameWidth, int frameHeight);
