// Builders of foreign event files for tests and benchmarks.
#include "foreignfiles.h"

#include <hdf5.h>
#include <lz4frame.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>

namespace vxtest {

using vexadin::Event2D;

void putLe16(std::string &s, uint16_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void putLe32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putLe64(std::string &s, uint64_t v)
{
    putLe32(s, static_cast<uint32_t>(v));
    putLe32(s, static_cast<uint32_t>(v >> 32));
}

void putBe32(std::string &s, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// ---- AEDAT 2.0 ----------------------------------------------------------------

std::string aedat2Header(const std::string &chip)
{
    std::string h = "#!AER-DAT2.0\r\n"
                    "# This is a raw AE data file - do not edit\r\n"
                    "# Data format is int32 address, int32 timestamp (8 bytes total), repeated for each event\r\n"
                    "# Timestamps tick is 1 us\r\n";
    if (!chip.empty())
        h += "# AEChip: " + chip + "\r\n";
    h += "# created Thu Jan 01 00:00:00 UTC 2015\r\n";
    return h;
}

void appendAedat2Record(std::string &file, uint32_t address, uint32_t timestamp)
{
    putBe32(file, address);
    putBe32(file, timestamp);
}

uint32_t aedat2Address(const Event2D &e, bool dvs128, uint16_t width, uint16_t height)
{
    const uint32_t x = static_cast<uint32_t>(width - 1 - e.x);
    const uint32_t y = static_cast<uint32_t>(height - 1 - e.y);
    if (dvs128)
        return (y << 8) | (x << 1) | (e.polarity ? 0u : 1u);
    return (y << 22) | (x << 12) | (static_cast<uint32_t>(e.polarity) << 11);
}

// ---- AEDAT 3.1 ----------------------------------------------------------------

std::string aedat3Header(const std::string &chip)
{
    return "#!AER-DAT3.1\r\n#Format: RAW\r\n#Source 1: " + chip
           + "\r\n#Start-Time: 2017-01-01 00:00:00 (TZ+0000)\r\n#!END-HEADER\r\n";
}

namespace {

std::string aedat3PacketHeader(int16_t type, int16_t source, int32_t eventSize, int32_t overflow, int32_t count,
                               int32_t valid)
{
    std::string h;
    putLe16(h, static_cast<uint16_t>(type));
    putLe16(h, static_cast<uint16_t>(source));
    putLe32(h, static_cast<uint32_t>(eventSize));
    putLe32(h, 4); // timestamp offset inside the event
    putLe32(h, static_cast<uint32_t>(overflow));
    putLe32(h, static_cast<uint32_t>(count)); // capacity
    putLe32(h, static_cast<uint32_t>(count)); // number
    putLe32(h, static_cast<uint32_t>(valid));
    return h;
}

} // namespace

std::string aedat3PolarityPacket(const std::vector<Aedat3Event> &events, int16_t source)
{
    const int32_t overflow = events.empty() ? 0 : static_cast<int32_t>(events.front().t >> 31);
    int32_t valid = 0;
    std::string body;
    for (const Aedat3Event &e : events) {
        valid += e.valid ? 1 : 0;
        putLe32(body, (e.x << 17) | (e.y << 2) | (e.on ? 2u : 0u) | (e.valid ? 1u : 0u));
        putLe32(body, static_cast<uint32_t>(e.t & 0x7FFFFFFFu));
    }
    return aedat3PacketHeader(1, source, 8, overflow, static_cast<int32_t>(events.size()), valid) + body;
}

std::string aedat3OtherPacket(int16_t type, int16_t source, int32_t eventSize, int32_t count)
{
    return aedat3PacketHeader(type, source, eventSize, 0, count, count)
           + std::string(static_cast<size_t>(eventSize) * static_cast<size_t>(count), '\x5A');
}

// ---- AEDAT 4.0 ----------------------------------------------------------------

std::string aedat4IoHeader(int32_t compression, int64_t dataTable, const std::string &xml)
{
    std::string b;
    putLe32(b, 20);
    b += "IOHE";
    putLe16(b, 10); // vtable at 8
    putLe16(b, 20);
    putLe16(b, 4);
    putLe16(b, 12);
    putLe16(b, 8);
    putLe16(b, 0);       // pad to 20
    putLe32(b, 12);      // table at 20: soffset to vtable at 8
    putLe32(b, static_cast<uint32_t>(compression));
    putLe32(b, 40 - 28); // string at 40, field at 28
    putLe64(b, static_cast<uint64_t>(dataTable));
    putLe32(b, static_cast<uint32_t>(xml.size()));
    b += xml;
    b += '\0';
    while (b.size() % 4)
        b += '\0';
    return b;
}

std::string aedat4EventPacket(const std::vector<Aedat4Event> &events, uint32_t claimedCount, const char *ident)
{
    std::string b;
    putLe32(b, 16);
    b += ident;
    putLe16(b, 6); // vtable at 8
    putLe16(b, 8);
    putLe16(b, 4);
    putLe16(b, 0); // pad to 16
    putLe32(b, 8); // table at 16
    putLe32(b, 4); // vector at 24, field at 20
    putLe32(b, claimedCount == UINT32_MAX ? static_cast<uint32_t>(events.size()) : claimedCount);
    for (const Aedat4Event &e : events) {
        putLe64(b, static_cast<uint64_t>(e.t));
        putLe16(b, static_cast<uint16_t>(e.x));
        putLe16(b, static_cast<uint16_t>(e.y));
        b += static_cast<char>(e.on);
        b.append(3, '\0');
    }
    std::string prefixed;
    putLe32(prefixed, static_cast<uint32_t>(b.size()));
    return prefixed + b;
}

std::string aedat4Compress(const std::string &raw, Aedat4Codec codec)
{
    std::string out;
    if (codec == Aedat4Codec::Lz4) {
        out.resize(LZ4F_compressFrameBound(raw.size(), nullptr));
        const size_t n = LZ4F_compressFrame(out.data(), out.size(), raw.data(), raw.size(), nullptr);
        out.resize(LZ4F_isError(n) ? 0 : n);
    } else if (codec == Aedat4Codec::Zstd) {
        out.resize(ZSTD_compressBound(raw.size()));
        const size_t n = ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 1);
        out.resize(ZSTD_isError(n) ? 0 : n);
    } else {
        out = raw;
    }
    return out;
}

std::string aedat4Packet(int32_t stream, const std::string &body)
{
    std::string p;
    putLe32(p, static_cast<uint32_t>(stream));
    putLe32(p, static_cast<uint32_t>(body.size()));
    return p + body;
}

std::string aedat4Xml(uint16_t width, uint16_t height)
{
    return "<dv version=\"2.0\">\n"
           " <node name=\"outInfo\" path=\"/outInfo/\">\n"
           "  <node name=\"1\" path=\"/outInfo/1/\">\n"
           "   <attr key=\"typeIdentifier\" type=\"string\">IMUS</attr>\n"
           "  </node>\n"
           "  <node name=\"4\" path=\"/outInfo/4/\">\n"
           "   <attr key=\"compression\" type=\"string\">LZ4</attr>\n"
           "   <attr key=\"typeIdentifier\" type=\"string\">EVTS</attr>\n"
           "   <node name=\"info\" path=\"/outInfo/4/info/\">\n"
           "    <attr key=\"sizeX\" type=\"int\">"
           + std::to_string(width)
           + "</attr>\n"
             "    <attr key=\"sizeY\" type=\"int\">"
           + std::to_string(height)
           + "</attr>\n"
             "    <attr key=\"source\" type=\"string\">TestCam_S&amp;N42</attr>\n"
             "   </node>\n"
             "  </node>\n"
             " </node>\n"
             "</dv>\n";
}

std::string aedat4File(Aedat4Codec codec, const std::vector<std::vector<Aedat4Event>> &packets, bool withTable,
                       const std::string &xml)
{
    const int32_t compression = codec == Aedat4Codec::None ? 0 : (codec == Aedat4Codec::Lz4 ? 1 : 3);
    std::string body;
    for (size_t i = 0; i < packets.size(); ++i) {
        body += aedat4Packet(4, aedat4Compress(aedat4EventPacket(packets[i]), codec));
        if (i == 0)
            body += aedat4Packet(1, aedat4Compress(std::string(40, 'i'), codec));
    }
    // The header's length does not depend on the table position it holds.
    const std::string probe = aedat4IoHeader(compression, 0, xml);
    const int64_t tablePos = withTable ? static_cast<int64_t>(14 + 4 + probe.size() + body.size()) : -1;
    const std::string header = aedat4IoHeader(compression, tablePos, xml);
    std::string file = "#!AER-DAT4.0\r\n";
    putLe32(file, static_cast<uint32_t>(header.size()));
    file += header + body;
    if (withTable) {
        // A size-prefixed "FTAB" FlatBuffer with an empty root table: only its identifier is read.
        std::string table;
        putLe32(table, 12);
        table += "FTAB";
        putLe16(table, 4);
        putLe16(table, 4);
        putLe32(table, 4);
        std::string prefixed;
        putLe32(prefixed, static_cast<uint32_t>(table.size()));
        file += aedat4Compress(prefixed + table, codec);
    }
    return file;
}

// ---- HDF5 ---------------------------------------------------------------------

namespace {

struct H5 {
    hid_t id;
    herr_t (*close)(hid_t);
    ~H5()
    {
        if (id >= 0)
            close(id);
    }
};

} // namespace

bool writeHdf5Events(const std::string &path, const Hdf5Layout &layout, uint64_t count,
                     const std::function<void(uint64_t, size_t, Event2D *)> &fill)
{
    H5 file{H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose};
    if (file.id < 0)
        return false;
    H5 group{layout.group == "/" ? H5Gopen2(file.id, "/", H5P_DEFAULT)
                                 : H5Gcreate2(file.id, layout.group.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
             H5Gclose};
    if (group.id < 0)
        return false;
    H5 boolType{H5Tenum_create(H5T_NATIVE_INT8), H5Tclose};
    int8_t no = 0, yes = 1;
    H5Tenum_insert(boolType.id, "FALSE", &no);
    H5Tenum_insert(boolType.id, "TRUE", &yes);

    const hsize_t dims = count;
    H5 space{H5Screate_simple(1, &dims, nullptr), H5Sclose};
    H5 dcpl{H5Pcreate(H5P_DATASET_CREATE), H5Pclose};
    if (layout.chunk) {
        const hsize_t chunk = std::min<hsize_t>(layout.chunk, std::max<hsize_t>(count, 1));
        H5Pset_chunk(dcpl.id, 1, &chunk);
        if (layout.deflate > 0)
            H5Pset_deflate(dcpl.id, static_cast<unsigned>(layout.deflate));
    }
    const hid_t fileTypes[4] = {H5T_STD_U16LE, H5T_STD_U16LE, layout.seconds ? H5T_IEEE_F64LE : H5T_STD_I64LE,
                                layout.boolPolarity ? boolType.id : H5T_STD_I8LE};
    const hid_t memTypes[4] = {H5T_NATIVE_UINT16, H5T_NATIVE_UINT16,
                               layout.seconds ? H5T_NATIVE_DOUBLE : H5T_NATIVE_INT64,
                               layout.boolPolarity ? boolType.id : H5T_NATIVE_INT8};
    const std::string names[4] = {layout.x, layout.y, layout.t, layout.p};
    H5 ds[4] = {{-1, H5Dclose}, {-1, H5Dclose}, {-1, H5Dclose}, {-1, H5Dclose}};
    for (int i = 0; i < 4; ++i) {
        ds[i].id = H5Dcreate2(group.id, names[i].c_str(), fileTypes[i], space.id, H5P_DEFAULT, dcpl.id, H5P_DEFAULT);
        if (ds[i].id < 0)
            return false;
    }

    const size_t slice = 1 << 20;
    std::vector<Event2D> events;
    std::vector<uint16_t> xs, ys;
    std::vector<int64_t> ts;
    std::vector<double> secs;
    std::vector<int8_t> ps;
    for (uint64_t first = 0; first < count; first += slice) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(slice, count - first));
        events.resize(n);
        fill(first, n, events.data());
        xs.resize(n);
        ys.resize(n);
        ts.resize(n);
        secs.resize(n);
        ps.resize(n);
        for (size_t i = 0; i < n; ++i) {
            xs[i] = events[i].x;
            ys[i] = events[i].y;
            ts[i] = static_cast<int64_t>(events[i].timestamp) - layout.offsetUs;
            secs[i] = static_cast<double>(ts[i]) / 1e6;
            ps[i] = static_cast<int8_t>(events[i].polarity);
        }
        const void *buffers[4] = {xs.data(), ys.data(), layout.seconds ? static_cast<const void *>(secs.data())
                                                                       : static_cast<const void *>(ts.data()),
                                  ps.data()};
        const hsize_t offset = first;
        const hsize_t size = n;
        H5 mem{H5Screate_simple(1, &size, nullptr), H5Sclose};
        for (int i = 0; i < 4; ++i) {
            H5 fileSpace{H5Dget_space(ds[i].id), H5Sclose};
            H5Sselect_hyperslab(fileSpace.id, H5S_SELECT_SET, &offset, nullptr, &size, nullptr);
            if (H5Dwrite(ds[i].id, memTypes[i], mem.id, fileSpace.id, H5P_DEFAULT, buffers[i]) < 0)
                return false;
        }
    }

    if (layout.width && layout.height) {
        H5 scalar{H5Screate(H5S_SCALAR), H5Sclose};
        const uint16_t size[2] = {layout.width, layout.height};
        const char *attrs[2] = {"width", "height"};
        for (int i = 0; i < 2; ++i) {
            H5 a{H5Acreate2(group.id, attrs[i], H5T_STD_U16LE, scalar.id, H5P_DEFAULT, H5P_DEFAULT), H5Aclose};
            if (a.id < 0 || H5Awrite(a.id, H5T_NATIVE_UINT16, &size[i]) < 0)
                return false;
        }
    }
    if (layout.hasOffset) {
        H5 scalar{H5Screate(H5S_SCALAR), H5Sclose};
        H5 off{H5Dcreate2(file.id, "t_offset", H5T_STD_I64LE, scalar.id, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
               H5Dclose};
        if (off.id < 0 || H5Dwrite(off.id, H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &layout.offsetUs) < 0)
            return false;
    }
    return true;
}

bool writeHdf5Events(const std::string &path, const Hdf5Layout &layout, const std::vector<Event2D> &events)
{
    return writeHdf5Events(path, layout, events.size(), [&](uint64_t first, size_t n, Event2D *out) {
        std::copy(events.begin() + static_cast<std::ptrdiff_t>(first),
                  events.begin() + static_cast<std::ptrdiff_t>(first + n), out);
    });
}

} // namespace vxtest
