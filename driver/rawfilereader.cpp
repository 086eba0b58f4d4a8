#include "driver/rawfilereader.h"

namespace vexadin {

namespace {
thread_local std::string t_lastError;
}

struct RawFileReader::Impl {
    std::string path;
    RawFileHeader header;
};

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string &path)
{
    return RawFileReader::create(path);
}

RawFileReader::RawFileReader() : d(new Impl) {}
RawFileReader::~RawFileReader() = default;
std::unique_ptr<RawFileReader> RawFileReader::create(const std::string &) { return nullptr; }
bool RawFileReader::open() { return false; }
bool RawFileReader::getStartTimestamp(uint64_t &) { return false; }
bool RawFileReader::getEndTimestamp(uint64_t &) { return false; }
bool RawFileReader::seek(uint64_t) { return false; }
std::shared_ptr<std::vector<Event2D>> RawFileReader::readNext(uint64_t) { return nullptr; }
std::shared_ptr<std::vector<Event2D>> RawFileReader::readRange(uint64_t, uint64_t) { return nullptr; }
bool RawFileReader::cut(uint64_t, uint64_t, const std::string &) { return false; }
bool RawFileReader::exportVideo(uint64_t, uint64_t, const std::string &) { return false; }
bool RawFileReader::getFileInfo(DvsFileInfo &) { return false; }
void RawFileReader::setVideoExportOptions(const VideoExportOptions &) {}
std::shared_ptr<std::vector<EventTriggerIn>> RawFileReader::readTriggers(uint64_t, uint64_t) { return nullptr; }
bool RawFileReader::forEachBlockInRange(uint64_t, uint64_t, const BlockCallback &) { return false; }
const std::string &RawFileReader::path() const { return d->path; }
const RawFileHeader &RawFileReader::header() const { return d->header; }
uint16_t RawFileReader::formatReadVersion() const { return 0; }
uint16_t RawFileReader::formatWriteVersion() const { return 0; }
uint64_t RawFileReader::fileSize() const { return 0; }
uint64_t RawFileReader::blockCount() const { return 0; }
RawBlockInfo RawFileReader::blockInfo(uint64_t) const { return {}; }
uint64_t RawFileReader::corruptBlockCount() const { return 0; }
bool RawFileReader::indexRebuilt() const { return false; }
bool RawFileReader::verifyAll(std::vector<std::string> *) { return false; }
const std::string &RawFileReader::lastError() const { return t_lastError; }

} // namespace vexadin
