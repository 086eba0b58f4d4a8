#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxraw {

// Bounds-checked read access to one FlatBuffers buffer, without a schema
// compiler. Every offset read from the buffer is checked before it is followed,
// so damaged input gives false, never an out-of-range read.
//
// The binary layout relied on (all little-endian):
//   buffer[0..4)   uint32 offset of the root table
//   buffer[4..8)   optional 4-byte file identifier
//   table          int32 soffset; vtable = table - soffset
//   vtable         uint16 vtable size, uint16 table size, then one uint16 per
//                  field: its offset inside the table (0 = absent, use default)
//   string/vector  referenced by a uint32 offset relative to the field itself;
//                  uint32 length, then the elements (strings NUL-terminated)
class FlatBufferView {
public:
    FlatBufferView(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    // Offset of the root table; false when the buffer cannot hold one.
    bool rootTable(size_t &table) const;
    bool hasIdentifier(const char *id4) const;

    // Offset of field `index` of the table at `table`, with `fieldSize` bytes
    // that must lie inside both the table and the buffer. `present` is false
    // when the table leaves the field at its default.
    bool field(size_t table, unsigned index, size_t fieldSize, size_t &pos, bool &present) const;

    bool readU16(size_t pos, uint16_t &v) const;
    bool readU32(size_t pos, uint32_t &v) const;
    bool readI32(size_t pos, int32_t &v) const;
    bool readI64(size_t pos, int64_t &v) const;

    // Follows the uint32 offset stored at `pos` to a vector of `elementSize`-byte
    // elements; gives the offset of the first element and the count.
    bool vector(size_t pos, size_t elementSize, size_t &first, uint64_t &count) const;
    bool string(size_t pos, std::string &out) const;

    const uint8_t *data() const { return data_; }
    size_t size() const { return size_; }

private:
    bool inside(size_t pos, size_t n) const { return pos <= size_ && n <= size_ - pos; }

    const uint8_t *data_;
    size_t size_;
};

} // namespace vxraw
