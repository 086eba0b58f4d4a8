// vx-fuzz: corpus=corpus-hdf5columns seconds=10
// libFuzzer target: what the HDF5 importer does with the column data it reads
// (times in µs or seconds, a time offset, coordinates against the sensor). The
// HDF5 container itself is parsed by libhdf5, which we do not fuzz: its crashes on
// damaged files are outside our control.
#include "hdf5importer.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Layout: 1 flag byte (bit 0: seconds), 8 bytes time offset, 2+2 bytes sensor
    // size, then records of x (4), y (4), p (1), t (8).
    constexpr size_t kHead = 13;
    constexpr size_t kRecord = 17;
    if (size < kHead)
        return 0;
    const bool seconds = data[0] & 1;
    int64_t offset = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    std::memcpy(&offset, data + 1, 8);
    std::memcpy(&width, data + 9, 2);
    std::memcpy(&height, data + 11, 2);
    const size_t n = (size - kHead) / kRecord;
    std::vector<int32_t> x(n), y(n);
    std::vector<int8_t> p(n);
    std::vector<int64_t> us(n);
    std::vector<double> s(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t *r = data + kHead + i * kRecord;
        std::memcpy(&x[i], r, 4);
        std::memcpy(&y[i], r + 4, 4);
        std::memcpy(&p[i], r + 8, 1);
        std::memcpy(&us[i], r + 9, 8);
        std::memcpy(&s[i], r + 9, 8);
    }
    vxraw::Hdf5Importer importer("unused");
    importer.setSensorSize(width, height);
    importer.setTimeOffsetUs(offset);
    vxraw::Hdf5Importer::Columns c;
    c.x = x.data();
    c.y = y.data();
    c.p = p.data();
    if (seconds)
        c.tSeconds = s.data();
    else
        c.tUs = us.data();
    // Two calls, as successive slices arrive.
    std::vector<vexadin::Event2D> out;
    c.count = n / 2;
    bool ok = importer.appendColumns(c, 0, out);
    if (ok) {
        c.x += n / 2;
        c.y += n / 2;
        c.p += n / 2;
        if (seconds)
            c.tSeconds += n / 2;
        else
            c.tUs += n / 2;
        c.count = n - n / 2;
        ok = importer.appendColumns(c, n / 2, out);
    }
    uint64_t last = 0;
    for (const vexadin::Event2D &e : out) {
        if (e.x >= width || e.y >= height || e.timestamp < last || e.polarity > 1)
            __builtin_trap();
        last = e.timestamp;
    }
    if (out.size() + importer.outsideSensor() > n)
        __builtin_trap();
    return 0;
}
