#pragma once

// Builders of event files in the formats other tools write (AEDAT 2.0, 3.1 and
// 4.0, HDF5), laid out byte by byte from the format descriptions, so tests and
// benchmarks make their own inputs with exactly known events.

#include "camera/event2d.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vxtest {

void putLe16(std::string &s, uint16_t v);
void putLe32(std::string &s, uint32_t v);
void putLe64(std::string &s, uint64_t v);
void putBe32(std::string &s, uint32_t v);

// ---- AEDAT 2.0 ----------------------------------------------------------------
// Header lines ending in "\r\n"; an empty chip leaves the "#AEChip:" line out.
std::string aedat2Header(const std::string &chip);
void appendAedat2Record(std::string &file, uint32_t address, uint32_t timestamp);
// The address a DVS128 or DAVIS sensor of the given size writes for an event (x
// counted from the right, y from the bottom, as the recording tool does).
uint32_t aedat2Address(const vexadin::Event2D &e, bool dvs128, uint16_t width, uint16_t height);

// ---- AEDAT 3.1 ----------------------------------------------------------------
std::string aedat3Header(const std::string &chip);
struct Aedat3Event {
    uint32_t x = 0;
    uint32_t y = 0;
    bool on = false;
    uint64_t t = 0; // all events of one packet share t >> 31
    bool valid = true;
};
std::string aedat3PolarityPacket(const std::vector<Aedat3Event> &events, int16_t source = 1);
// A packet of another type holding `count` events of `eventSize` filler bytes.
std::string aedat3OtherPacket(int16_t type, int16_t source, int32_t eventSize, int32_t count);

// ---- AEDAT 4.0 ----------------------------------------------------------------
enum class Aedat4Codec { None, Lz4, Zstd };
struct Aedat4Event {
    int64_t t;
    int16_t x, y;
    uint8_t on;
};
// IOHeader FlatBuffer: root -> table { compression, infoNode (XML), dataTablePosition }.
std::string aedat4IoHeader(int32_t compression, int64_t dataTable, const std::string &xml);
// Size-prefixed EventPacket; claimedCount may differ from what it holds.
std::string aedat4EventPacket(const std::vector<Aedat4Event> &events, uint32_t claimedCount = UINT32_MAX,
                              const char *ident = "EVTS");
std::string aedat4Compress(const std::string &raw, Aedat4Codec codec);
std::string aedat4Packet(int32_t stream, const std::string &body);
// Stream description with an IMU stream 1 and the event stream 4 of width x height,
// source "TestCam_S&N42".
std::string aedat4Xml(uint16_t width = 64, uint16_t height = 48);
// A whole file: the given event packets on stream 4, an IMU packet after the first,
// and (withTable) the data table at the end as a closed recording has it.
std::string aedat4File(Aedat4Codec codec, const std::vector<std::vector<Aedat4Event>> &packets, bool withTable = true,
                       const std::string &xml = aedat4Xml());

// ---- HDF5 ---------------------------------------------------------------------
struct Hdf5Layout {
    std::string group = "/events"; // "/" for the root
    std::string x = "x", y = "y", t = "t", p = "p";
    bool seconds = false;          // t as double seconds instead of int64 µs
    bool boolPolarity = false;     // p as a one-byte enum (FALSE/TRUE) instead of int8
    bool hasOffset = false;        // a t_offset dataset in the root
    int64_t offsetUs = 0;
    uint16_t width = 0, height = 0; // attributes "width"/"height" on the group when non-zero
    uint64_t chunk = 0;            // chunked (and deflate-compressed when deflate > 0) when non-zero
    int deflate = 0;
};
// Writes `count` events, asking `fill` for them in slices (first index, count, output).
bool writeHdf5Events(const std::string &path, const Hdf5Layout &layout, uint64_t count,
                     const std::function<void(uint64_t, size_t, vexadin::Event2D *)> &fill);
bool writeHdf5Events(const std::string &path, const Hdf5Layout &layout, const std::vector<vexadin::Event2D> &events);

} // namespace vxtest
