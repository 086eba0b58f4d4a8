#pragma once

#include <string>

// Progress of a long command on a terminal: "LABEL 42%" redrawn in place on one
// line of standard error (another descriptor may be given), and nothing at all
// when that is not a terminal, so logs and pipes stay clean.
//
// Creating the first ProgressLine also takes over Ctrl-C: SIGINT then only sets the
// process-wide interrupted() flag, which the command polls to stop cleanly (remove
// what it half wrote, exit with status 1). A second Ctrl-C ends the program at once,
// as usual.
//
// One thread uses a ProgressLine; interrupted() may be read from any thread.
class ProgressLine {
public:
    explicit ProgressLine(std::string label, int fd = 2);
    ~ProgressLine(); // finish()

    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // fraction of the work done, 0 to 1; redraws when the whole percentage changes.
    void update(double fraction);
    // Ends the line (a line break, when one was drawn); later updates draw nothing.
    void finish();
    // The line goes to a terminal.
    bool onTerminal() const { return terminal_; }

    // SIGINT arrived since the first ProgressLine was created.
    static bool interrupted();

private:
    std::string label_;
    int fd_;
    bool terminal_;
    int percent_ = -1; // last drawn; -1 before the first
    bool finished_ = false;
};
