#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// The vxraw command-line tool: inspect, dump, convert, cut, check and export
// .raw recordings, list cameras and record from one. Kept out of main() so tests run the commands in-process.
//
// Exit statuses: 0 success; 1 bad or damaged data, or a failed operation;
// 2 wrong usage, a missing file, or a file that is not a recording.
// A failure writes exactly one line to `err`.
class ProgressLine;

namespace vexadin {
class OperationControl;
class RawFileReader;
}

enum VxrawExitStatus { kVxrawOk = 0, kVxrawFailed = 1, kVxrawUsage = 2 };

// argv[0] is the program name, as main() receives it.
int runVxraw(int argc, char **argv, std::ostream &out, std::ostream &err);
// The arguments after the program name.
int runVxrawArgs(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// "vxraw export IN OUT.mp4 START_US END_US": renders the closed range as a video.
// `args` are the arguments after the word "export". Defined in vxrawexport.cpp.
int runVxrawExport(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// "vxraw cameras" and "vxraw record SERIAL OUT.raw --seconds N [--config FILE.json]
// [--set TOOL.PARAM=VALUE ...]"; `args` are the arguments after the command word.
// Defined in vxrawcamera.cpp.
int runVxrawCameras(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int runVxrawRecord(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// The last line the driver logged during the running command (the driver's own
// lines are kept off stderr while a command runs).
std::string vxrawLastDriverLine();

// Usage text printed by "vxraw --help".
const char *vxrawUsage();

// Shared by the commands: writes "vxraw COMMAND: MESSAGE" as one line and returns status.
int vxrawFail(std::ostream &err, const std::string &command, int status, const std::string &message);
// A plain unsigned decimal number (no sign, no blanks), as timestamps are given.
bool vxrawParseU64(const std::string &s, uint64_t &value);
// Opens FILE as an opened recording for `command`: 2 when it is missing or not a
// recording, 1 when it is one of ours but cannot be read (damaged header, newer
// format, unreadable) or Ctrl-C stopped the index rebuild, 0 with `reader` set
// otherwise. A failure writes its one line. A rebuild shows its progress on a terminal.
int vxrawOpenRecording(const std::string &command, const std::string &path, std::ostream &err,
                       std::unique_ptr<vexadin::RawFileReader> &reader);
// Shows the operation's progress on `line` and stops it on Ctrl-C.
void vxrawFollow(vexadin::OperationControl &control, ProgressLine &line);
// The line written when Ctrl-C stopped a command (status 1).
extern const char *const kVxrawInterrupted;
