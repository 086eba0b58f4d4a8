#include "flatbufferview.h"

#include <cstring>

namespace vxraw {

bool FlatBufferView::readU16(size_t pos, uint16_t &v) const
{
    if (!inside(pos, 2))
        return false;
    v = static_cast<uint16_t>(data_[pos] | (data_[pos + 1] << 8));
    return true;
}

bool FlatBufferView::readU32(size_t pos, uint32_t &v) const
{
    if (!inside(pos, 4))
        return false;
    v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | data_[pos + static_cast<size_t>(i)];
    return true;
}

bool FlatBufferView::readI32(size_t pos, int32_t &v) const
{
    uint32_t u = 0;
    if (!readU32(pos, u))
        return false;
    std::memcpy(&v, &u, sizeof v);
    return true;
}

bool FlatBufferView::readI64(size_t pos, int64_t &v) const
{
    if (!inside(pos, 8))
        return false;
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | data_[pos + static_cast<size_t>(i)];
    std::memcpy(&v, &u, sizeof v);
    return true;
}

bool FlatBufferView::rootTable(size_t &table) const
{
    uint32_t off = 0;
    if (!readU32(0, off) || !inside(off, 4))
        return false;
    table = off;
    return true;
}

bool FlatBufferView::hasIdentifier(const char *id4) const
{
    return inside(4, 4) && std::memcmp(data_ + 4, id4, 4) == 0;
}

bool FlatBufferView::field(size_t table, unsigned index, size_t fieldSize, size_t &pos, bool &present) const
{
    int32_t soff = 0;
    if (!readI32(table, soff))
        return false;
    // vtable = table - soff, computed in 64 bits so neither sign can wrap.
    const int64_t vt = static_cast<int64_t>(table) - static_cast<int64_t>(soff);
    if (vt < 0 || static_cast<uint64_t>(vt) >= size_)
        return false;
    const size_t vtable = static_cast<size_t>(vt);
    uint16_t vtSize = 0;
    uint16_t tableSize = 0;
    if (!readU16(vtable, vtSize) || !readU16(vtable + 2, tableSize) || vtSize < 4 || (vtSize & 1)
        || !inside(vtable, vtSize) || !inside(table, tableSize))
        return false;
    const size_t slot = 4 + 2 * static_cast<size_t>(index);
    present = false;
    if (slot + 2 > vtSize)
        return true; // a table written with an older schema: field absent
    uint16_t fieldOff = 0;
    if (!readU16(vtable + slot, fieldOff))
        return false;
    if (fieldOff == 0)
        return true;
    if (fieldOff < 4 || static_cast<size_t>(fieldOff) + fieldSize > tableSize)
        return false;
    pos = table + fieldOff;
    present = true;
    return true;
}

bool FlatBufferView::vector(size_t pos, size_t elementSize, size_t &first, uint64_t &count) const
{
    uint32_t off = 0;
    if (!readU32(pos, off))
        return false;
    const uint64_t at = static_cast<uint64_t>(pos) + off;
    uint32_t n = 0;
    if (at > size_ || !readU32(static_cast<size_t>(at), n))
        return false;
    const uint64_t bytes = static_cast<uint64_t>(n) * elementSize;
    if (bytes > size_ - static_cast<size_t>(at) - 4)
        return false;
    first = static_cast<size_t>(at) + 4;
    count = n;
    return true;
}

bool FlatBufferView::string(size_t pos, std::string &out) const
{
    size_t first = 0;
    uint64_t count = 0;
    if (!vector(pos, 1, first, count))
        return false;
    out.assign(reinterpret_cast<const char *>(data_ + first), static_cast<size_t>(count));
    return true;
}

} // namespace vxraw
