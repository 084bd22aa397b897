// The frame region table: one record per frame, each a length and an RGNDATA
// (header, rectangles) followed by filler that nRgnSize counts. The walk
// stores each record's length and the address of its RGNDATA, in place.
#include "sprite/sprite.h"
#include <cstring>

uint16_t ScreenWidth;
uint16_t ScreenHeight;
int AssetsReady;

namespace {
// Offsets within a record.
const size_t LengthField = 0, RegionData = 4, HeaderSizeField = 4, TypeField = 8, CountField = 12,
             BufferSizeField = 16, Rectangles = 36;
const uint32_t RegionHeaderSize = 32; // sizeof(RGNDATAHEADER)
const uint32_t RectanglesType = 1;    // RDH_RECTANGLES
const uint64_t RectSize = 16;

uint32_t Read32(const BYTE *at)
{
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The size of the well-formed record at `record` with `left` bytes of the
// table from there on, or 0 when it is cut short or its header is wrong.
uint64_t RecordSize(const BYTE *record, size_t left)
{
    if (left < Rectangles)
        return 0;
    uint64_t count = Read32(record + CountField);
    uint64_t bufferSize = Read32(record + BufferSizeField);
    uint64_t size = Rectangles + bufferSize;
    bool wellFormed = Read32(record + HeaderSizeField) == RegionHeaderSize &&
                      Read32(record + TypeField) == RectanglesType &&
                      Read32(record + LengthField) == RegionHeaderSize + RectSize * count &&
                      bufferSize >= RectSize * count && size <= left;
    return wellFormed ? size : 0;
}
} // namespace

uint16_t IndexFrameRegions(const void *table, size_t size, uint16_t count,
                           FrameRegionEntry *entries)
{
    const BYTE *at = static_cast<const BYTE *>(table);
    size_t left = table ? size : 0;
    uint16_t indexed = 0;
    for (; indexed < count; ++indexed) {
        uint64_t recordSize = RecordSize(at, left);
        if (recordSize == 0)
            break;
        entries[indexed].length = Read32(at + LengthField);
        entries[indexed].data = at + RegionData;
        at += recordSize;
        left -= static_cast<size_t>(recordSize);
    }
    for (uint16_t i = indexed; i < count; ++i)
        entries[i] = FrameRegionEntry{0, nullptr};
    return indexed;
}
