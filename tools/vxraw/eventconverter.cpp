#include "eventconverter.h"

#include "aedat2importer.h"
#include "aedat3importer.h"
#include "aedat4importer.h"
#include "hdf5importer.h"
#include "inputfile.h"
#include "textimporter.h"

#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

std::unique_ptr<EventImporter> openedImporter(const std::string &path, const ConvertOptions &options,
                                              std::string &error)
{
    std::unique_ptr<EventImporter> importer = importerFor(path, error);
    if (importer) {
        importer->setSensorName(options.sensor);
        importer->open();
    }
    return importer;
}

} // namespace

std::unique_ptr<EventImporter> importerFor(const std::string &path, std::string &error)
{
    InputFile file;
    if (!file.open(path)) {
        error = file.error();
        return nullptr;
    }
    char head[16] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(file.size(), sizeof head));
    if (file.readAt(0, head, n) == InputFile::Read::Error) {
        error = file.error();
        return nullptr;
    }
    if (Aedat2Importer::looksLikeAedat2(head, n))
        return std::make_unique<Aedat2Importer>(path);
    if (Aedat3Importer::looksLikeAedat3(head, n))
        return std::make_unique<Aedat3Importer>(path);
    // Any other AEDAT version: the AEDAT 4.0 importer reads 4.0 and names the others.
    if (Aedat4Importer::looksLikeAedat(head, n))
        return std::make_unique<Aedat4Importer>(path);
    if (Hdf5Importer::looksLikeHdf5(head, n))
        return std::make_unique<Hdf5Importer>(path);
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
    // The first pass (when the size must be found) is the first half of the work.
    double progressBase = 0;
    double progressScale = 1;
    auto keepGoing = [&](double fraction) {
        return !options.progress || options.progress(progressBase + progressScale * std::clamp(fraction, 0.0, 1.0));
    };

    std::string error;
    std::unique_ptr<EventImporter> importer = openedImporter(inPath, options, error);
    if (!importer)
        return failWith(Status::NotEventFile, inPath + ": " + error);
    result.format = importer->formatName();
    if (!importer->error().empty()) {
        if (importer->recognised() || importer->readFailed())
            return failWith(Status::BadData, inPath + ": " + importer->error());
        // Say so plainly when someone hands us one of our own recordings.
        if (vexadin::RawFileReader::create(inPath))
            return failWith(Status::NotEventFile,
                            inPath + ": already a recording (use 'vxraw cut' to copy a range of it)");
        return failWith(Status::NotEventFile,
                        inPath + ": " + importer->error()
                            + " (expected 't x y p' text lines, AEDAT 2.0, 3.1 or 4.0, or HDF5)");
    }

    vexadin::RawFileHeader header;
    header.width = options.width ? options.width : importer->fileWidth();
    header.height = options.height ? options.height : importer->fileHeight();
    std::vector<vexadin::Event2D> batch;
    if ((!header.width || !header.height) && importer->sizeFromScan()) {
        // The file states no size: the largest coordinates decide, read in a first pass.
        std::unique_ptr<EventImporter> scan = openedImporter(inPath, options, error);
        if (!scan || !scan->error().empty())
            return failWith(Status::BadData, inPath + ": " + (scan ? scan->error() : error));
        scan->setSensorSize(65535, 65535);
        progressScale = 0.5;
        uint16_t maxX = 0;
        uint16_t maxY = 0;
        bool any = false;
        while (scan->next(batch, kBatchEvents)) {
            for (const vexadin::Event2D &e : batch) {
                maxX = std::max(maxX, e.x);
                maxY = std::max(maxY, e.y);
            }
            any = true;
            if (!keepGoing(scan->progress()))
                return failWith(Status::Cancelled, "cancelled");
        }
        if (!scan->error().empty())
            return failWith(Status::BadData, inPath + ": " + scan->error());
        if (any) {
            if (!header.width)
                header.width = static_cast<uint16_t>(maxX + 1);
            if (!header.height)
                header.height = static_cast<uint16_t>(maxY + 1);
        }
        progressBase = 0.5;
    }
    if (!header.width)
        header.width = 1280;
    if (!header.height)
        header.height = 720;
    header.serial = options.serial.empty() ? importer->fileSerial() : options.serial;
    header.product = options.product.empty() ? importer->fileProduct() : options.product;
    header.metadata.emplace_back("source_format", importer->formatName());
    header.metadata.emplace_back("source_file", baseName(inPath));
    importer->setSensorSize(header.width, header.height);
    result.width = header.width;
    result.height = header.height;

    // The first batch decides whether the times are wall-clock times.
    bool more = importer->next(batch, kBatchEvents);
    if (!more && !importer->error().empty())
        return failWith(Status::BadData, inPath + ": " + importer->error());
    uint64_t offset = 0;
    if (more && batch.front().timestamp >= kAbsoluteTimeThresholdUs) {
        offset = batch.front().timestamp;
        header.recordingStartUnixUs = offset;
        header.metadata.emplace_back("source_time_offset_us", std::to_string(offset));
        result.recordingStartUnixUs = offset;
    }

    // A stop asked for while the input was opened: no output file at all.
    if (!keepGoing(0))
        return failWith(Status::Cancelled, "cancelled");
    const std::string tempPath = outPath + ".part-" + std::to_string(getpid());
    bool ok = true;
    {
        vexadin::RawFileWriter writer;
        if (!writer.open(tempPath, header)) {
            const std::string why = writer.lastError();
            std::remove(tempPath.c_str());
            return failWith(Status::BadData, outPath + ": cannot create: " + why);
        }
        auto stop = [&](Status status, const std::string &message) {
            result.status = status;
            result.error = message;
            ok = false;
        };
        while (more) {
            for (vexadin::Event2D &e : batch)
                e.timestamp -= offset; // never below 0: times do not go back
            if (!writer.write(batch)) {
                stop(Status::BadData, outPath + ": write failed: " + writer.lastError());
                break;
            }
            if (!keepGoing(importer->progress())) {
                stop(Status::Cancelled, "cancelled");
                break;
            }
            more = importer->next(batch, kBatchEvents);
        }
        if (ok && !importer->error().empty())
            stop(Status::BadData, inPath + ": " + importer->error());
        if (ok && !writer.close())
            stop(Status::BadData, outPath + ": write failed: " + writer.lastError());
        // The importer checks bounds and order, so the writer must have kept everything.
        if (ok && writer.droppedEvents() != 0)
            stop(Status::BadData, outPath + ": the writer dropped " + std::to_string(writer.droppedEvents())
                                      + " events");
        result.events = writer.eventsWritten();
    }
    if (ok && std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        result.status = Status::BadData;
        result.error = outPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        std::remove(tempPath.c_str());
        return result;
    }
    result.outsideSensor = importer->outsideSensor();
    result.skipped = importer->skippedSummary();
    return result;
}

} // namespace vxraw
