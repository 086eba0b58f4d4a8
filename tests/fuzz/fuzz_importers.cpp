// vx-fuzz: corpus=corpus-importers seconds=30
// libFuzzer target: arbitrary bytes through the vxraw importers (AEDAT 4.0 with its
// hand-parsed FlatBuffers and LZ4/Zstandard packets, and text event lists).
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
    std::unique_ptr<vxraw::EventImporter> importer;
    if (vxraw::Aedat4Importer::looksLikeAedat(reinterpret_cast<const char *>(data), size))
        importer = std::make_unique<vxraw::Aedat4Importer>(path);
    else
        importer = std::make_unique<vxraw::TextImporter>(path);
    if (!importer->open())
        return 0;
    // The widest sensor, so the parsers' own checks are what stops bad input.
    importer->setSensorSize(65535, 65535);
    std::vector<vexadin::Event2D> batch;
    uint64_t last = 0;
    for (int i = 0; i < 10000 && importer->next(batch, 4096); ++i) {
        for (const vexadin::Event2D &e : batch) {
            // Importers promise time order; a break of it is a finding.
            if (e.timestamp < last)
                __builtin_trap();
            last = e.timestamp;
        }
    }
    return 0;
}
