#include "eventconverter.h"

#include "aedat4importer.h"
#include "textimporter.h"

#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vxraw {
namespace {

constexpr size_t kBatchEvents = 1 << 16;

std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::unique_ptr<EventImporter> importerFor(const std::string &path, std::string &error)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        error = "is a directory";
        return nullptr;
    }
    char head[16] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (Aedat4Importer::looksLikeAedat(head, got))
        return std::make_unique<Aedat4Importer>(path);
    return std::make_unique<TextImporter>(path);
}

ConvertResult convertToRecording(const std::string &inPath, const std::string &outPath,
                                 const ConvertOptions &options)
{
    using Status = ConvertResult::Status;
    ConvertResult result;
    auto failWith = [&](Status status, const std::string &message) {
        result.status = status;
        result.error = message;
        return result;
    };

    std::string error;
    std::unique_ptr<EventImporter> importer = importerFor(inPath, error);
    if (!importer)
        return failWith(Status::NotEventFile, inPath + ": " + error);
    result.format = importer->formatName();
    if (!importer->open()) {
        if (importer->recognised())
            return failWith(Status::BadData, inPath + ": " + importer->error());
        // Say so plainly when someone hands us one of our own recordings.
        if (vexadin::RawFileReader::create(inPath))
            return failWith(Status::NotEventFile,
                            inPath + ": already a recording (use 'vxraw cut' to copy a range of it)");
        return failWith(Status::NotEventFile, inPath + ": " + importer->error()
                                                  + " (expected 't x y p' text lines or AEDAT 4.0)");
    }

    vexadin::RawFileHeader header;
    header.width = options.width ? options.width : (importer->fileWidth() ? importer->fileWidth() : 1280);
    header.height = options.height ? options.height : (importer->fileHeight() ? importer->fileHeight() : 720);
    header.serial = options.serial.empty() ? importer->fileSerial() : options.serial;
    header.product = options.product.empty() ? importer->fileProduct() : options.product;
    header.metadata.emplace_back("source_format", importer->formatName());
    header.metadata.emplace_back("source_file", baseName(inPath));
    importer->setSensorSize(header.width, header.height);
    result.width = header.width;
    result.height = header.height;

    const std::string tempPath = outPath + ".part-" + std::to_string(getpid());
    bool ok = true;
    {
        vexadin::RawFileWriter writer;
        if (!writer.open(tempPath, header)) {
            const std::string why = writer.lastError();
            std::remove(tempPath.c_str());
            return failWith(Status::BadData, outPath + ": cannot create: " + why);
        }
        std::vector<vexadin::Event2D> batch;
        while (importer->next(batch, kBatchEvents)) {
            if (!writer.write(batch)) {
                result.status = Status::BadData;
                result.error = outPath + ": write failed: " + writer.lastError();
                ok = false;
                break;
            }
        }
        if (ok && !importer->error().empty()) {
            result.status = Status::BadData;
            result.error = inPath + ": " + importer->error();
            ok = false;
        }
        if (ok && !writer.close()) {
            result.status = Status::BadData;
            result.error = outPath + ": write failed: " + writer.lastError();
            ok = false;
        }
        // The importer checks bounds and order, so the writer must have kept everything.
        if (ok && writer.droppedEvents() != 0) {
            result.status = Status::BadData;
            result.error = outPath + ": the writer dropped " + std::to_string(writer.droppedEvents()) + " events";
            ok = false;
        }
        result.events = writer.eventsWritten();
    }
    if (ok && std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        result.status = Status::BadData;
        result.error = outPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        std::remove(tempPath.c_str());
    return result;
}

} // namespace vxraw
