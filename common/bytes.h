// Little-endian fields for the binary formats: the pictures, outlines and
// icon the generator writes, and the WAVE files everything reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

typedef std::vector<uint8_t> Bytes;

inline void PutU8(Bytes &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
}
inline void PutU16(Bytes &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(Bytes &out, uint32_t v)
{
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}
inline void PutTag(Bytes &out, const char tag[4])
{
    out.insert(out.end(), tag, tag + 4);
}

inline uint32_t GetU16(const uint8_t *p)
{
    return p[0] | static_cast<uint32_t>(p[1]) << 8;
}
inline uint32_t GetU32(const uint8_t *p)
{
    return GetU16(p) | GetU16(p + 2) << 16;
}
inline int32_t GetI32(const uint8_t *p)
{
    return static_cast<int32_t>(GetU32(p));
}

// Overwrites a 32-bit field already written, for sizes known only at the end.
inline void SetU32(Bytes &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
