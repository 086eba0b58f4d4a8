// vx-fuzz: corpus=corpus-importers seconds=45
// libFuzzer target: arbitrary bytes through the vxraw importers (AEDAT 4.0 with its
// hand-parsed FlatBuffers and LZ4/Zstandard packets, AEDAT 2.0 in each address
// layout, AEDAT 3.1 packets, and text event lists). HDF5 files are parsed by
// libhdf5, not by us; fuzz_hdf5columns covers what we do with their contents.
#include "aedat2importer.h"
#include "aedat3importer.h"
#include "aedat4importer.h"
#include "textimporter.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = [] {
        const char *dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_importers-" + std::to_string(::getpid());
    }();
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    const char *head = reinterpret_cast<const char *>(data);
    std::unique_ptr<vxraw::EventImporter> importer;
    bool narrow = false;
    if (vxraw::Aedat2Importer::looksLikeAedat2(head, size)) {
        importer = std::make_unique<vxraw::Aedat2Importer>(path);
        // Every layout, also when the header names none.
        static const char *const kSensors[] = {"", "dvs128", "davis240", "davis346"};
        importer->setSensorName(kSensors[size % 4]);
        narrow = true;
    } else if (vxraw::Aedat3Importer::looksLikeAedat3(head, size)) {
        importer = std::make_unique<vxraw::Aedat3Importer>(path);
        narrow = size % 2;
    } else if (vxraw::Aedat4Importer::looksLikeAedat(head, size)) {
        importer = std::make_unique<vxraw::Aedat4Importer>(path);
    } else {
        importer = std::make_unique<vxraw::TextImporter>(path);
    }
    if (!importer->open())
        return 0;
    // The widest sensor, so the parsers' own checks are what stops bad input; the
    // importers that skip events outside the sensor also run at their own size.
    if (!narrow)
        importer->setSensorSize(65535, 65535);
    // Where a narrow run must keep its events: the file's sensor, else the default one.
    const uint16_t width = importer->fileWidth() ? importer->fileWidth() : 1280;
    const uint16_t height = importer->fileHeight() ? importer->fileHeight() : 720;
    std::vector<vexadin::Event2D> batch;
    uint64_t last = 0;
    for (int i = 0; i < 10000 && importer->next(batch, 4096); ++i) {
        for (const vexadin::Event2D &e : batch) {
            // Importers promise time order; a break of it is a finding.
            if (e.timestamp < last)
                __builtin_trap();
            last = e.timestamp;
            if (narrow && (e.x >= width || e.y >= height))
                __builtin_trap();
        }
    }
    return 0;
}
