#include "driver/rawfilewriter.h"

namespace vexadin {

struct RawFileWriter::Impl {
    std::string lastError = "not implemented";
};

RawFileWriter::RawFileWriter() : d(new Impl) {}
RawFileWriter::~RawFileWriter() = default;
void RawFileWriter::setBlockLimits(uint32_t, uint64_t) {}
bool RawFileWriter::open(const std::string &, const RawFileHeader &) { return false; }
bool RawFileWriter::isOpen() const { return false; }
bool RawFileWriter::write(const Event2D *, const Event2D *) { return false; }
bool RawFileWriter::write(const std::vector<Event2D> &) { return false; }
bool RawFileWriter::writeTrigger(const EventTriggerIn &) { return false; }
bool RawFileWriter::flush() { return false; }
bool RawFileWriter::close() { return false; }
uint64_t RawFileWriter::eventsWritten() const { return 0; }
uint64_t RawFileWriter::triggersWritten() const { return 0; }
uint64_t RawFileWriter::droppedEvents() const { return 0; }
uint64_t RawFileWriter::droppedTriggers() const { return 0; }
uint64_t RawFileWriter::blocksWritten() const { return 0; }
const std::string &RawFileWriter::lastError() const { return d->lastError; }

} // namespace vexadin
