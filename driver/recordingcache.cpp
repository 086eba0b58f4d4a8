#include "driver/recordingcache.h"

#include "driver/driverlog.h"
#include "driver/rawfilereader.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace vexadin {

namespace {

// A serial comes from a file name or a device; keep only what is safe in a file name.
std::string fileSafe(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '.';
        out.push_back(ok ? c : '-');
    }
    return out.empty() ? std::string("camera") : out;
}

} // namespace

RecordingCache::RecordingCache(RawFileHeader header)
    : header_(std::move(header)),
      prefix_("vxcache_" + fileSafe(header_.serial) + "_" + std::to_string(::getpid()) + "_")
{
}

RecordingCache::~RecordingCache()
{
    removeAll();
}

bool RecordingCache::configure(uint16_t seconds, const std::string &dir, std::string *error)
{
    if (seconds == 0) {
        removeAll();
        seconds_ = 0;
        return true;
    }
    struct stat st {};
    if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = "recording cache folder '" + dir + "' does not exist";
        return false;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        if (error)
            *error = "recording cache folder '" + dir + "' is not writable: " + std::strerror(errno);
        return false;
    }
    if (dir != dir_)
        removeAll();
    dir_ = dir;
    seconds_ = seconds;
    // Short segments for a short cache (little disk beyond N seconds), at most
    // about eight of them for a long one.
    segmentSpan_ = std::max<uint64_t>(1000000, uint64_t(seconds) * 1000000 / 8);
    reportedFailure_ = false;
    removeLeftovers();
    return true;
}

void RecordingCache::add(uint64_t t0, uint64_t t1, const Event2D *events, const Event2D *eventsEnd,
                         const EventTriggerIn *triggers, const EventTriggerIn *triggersEnd)
{
    if (!seconds_)
        return;
    if (writer_ && t0 >= segments_.back().t0 + segmentSpan_)
        closeCurrent();
    if (!writer_) {
        Segment s;
        s.path = dir_ + "/" + prefix_ + std::to_string(nextSequence_++) + ".raw";
        s.t0 = s.t1 = t0;
        auto writer = std::make_unique<RawFileWriter>();
        RawFileHeader h = header_;
        h.metadata.emplace_back("recording_cache", "1");
        if (!writer->open(s.path, h)) {
            if (!reportedFailure_)
                driverLog(DriverLogLevel::Warning, "recording cache: " + writer->lastError());
            reportedFailure_ = true;
            s.path.clear();
            segments_.push_back(s); // keeps the time line; counted as lost below
            segments_.back().lost += uint64_t(eventsEnd - events);
            segments_.back().t1 = t1;
            retire(t1);
            return;
        }
        writer_ = std::move(writer);
        segments_.push_back(s);
    }
    Segment &s = segments_.back();
    if (!writer_->writeMerged(events, eventsEnd, triggers, triggersEnd)) {
        if (!reportedFailure_)
            driverLog(DriverLogLevel::Warning, "recording cache: " + writer_->lastError());
        reportedFailure_ = true;
        s.lost += uint64_t(eventsEnd - events);
    }
    s.t1 = std::max(s.t1, t1);
    retire(t1);
}

void RecordingCache::addLoss(uint64_t t0, uint64_t t1, uint64_t events)
{
    if (!seconds_)
        return;
    if (segments_.empty()) {
        Segment s;
        s.t0 = t0;
        segments_.push_back(s);
    }
    segments_.back().lost += events;
    segments_.back().t1 = std::max(segments_.back().t1, t1);
}

void RecordingCache::closeCurrent()
{
    if (writer_) {
        writer_->close();
        writer_.reset();
    }
}

void RecordingCache::retire(uint64_t now)
{
    const uint64_t keep = uint64_t(seconds_) * 1000000;
    while (segments_.size() > 1 && segments_.front().t1 + keep <= now) {
        if (!segments_.front().path.empty())
            ::unlink(segments_.front().path.c_str());
        segments_.pop_front();
    }
}

void RecordingCache::removeAll()
{
    closeCurrent();
    for (const Segment &s : segments_)
        if (!s.path.empty())
            ::unlink(s.path.c_str());
    segments_.clear();
}

void RecordingCache::removeLeftovers()
{
    // vxcache_<serial>_<pid>_<n>.raw of this serial whose process is gone.
    const std::string mine = "vxcache_" + fileSafe(header_.serial) + "_";
    DIR *d = ::opendir(dir_.c_str());
    if (!d)
        return;
    while (dirent *entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (name.compare(0, mine.size(), mine) != 0 || name.size() < 4 ||
            name.compare(name.size() - 4, 4, ".raw") != 0)
            continue;
        const size_t end = name.find('_', mine.size());
        if (end == std::string::npos)
            continue;
        const std::string pidText = name.substr(mine.size(), end - mine.size());
        if (pidText.empty() || pidText.size() > 9 ||
            !std::all_of(pidText.begin(), pidText.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(pidText));
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue; // ours, or a process that still runs
        ::unlink((dir_ + "/" + name).c_str());
    }
    ::closedir(d);
}

bool RecordingCache::copyInto(RawFileWriter &writer, uint64_t from, uint64_t &lost, std::string *error)
{
    closeCurrent();
    lost = 0;
    bool ok = true;
    for (const Segment &s : segments_) {
        if (s.t1 <= from)
            continue;
        lost += s.lost;
        if (s.path.empty())
            continue;
        std::unique_ptr<RawFileReader> reader = RawFileReader::create(s.path);
        bool read = reader && reader->open();
        if (read) {
            read = reader->forEachBlockInRange(
                from, std::numeric_limits<uint64_t>::max(),
                [&](const Event2D *eb, const Event2D *ee, const EventTriggerIn *tb, const EventTriggerIn *te) {
                    return writer.writeMerged(eb, ee, tb, te);
                });
        }
        if (!read) {
            ok = false;
            if (error && error->empty())
                *error = "recording cache: " + s.path + ": " + (reader ? reader->lastError() : "cannot be read");
        }
    }
    // The next data starts a new segment: the closed ones stay as they are.
    return ok;
}

std::vector<std::string> RecordingCache::files() const
{
    std::vector<std::string> out;
    for (const Segment &s : segments_)
        if (!s.path.empty())
            out.push_back(s.path);
    return out;
}

} // namespace vexadin
