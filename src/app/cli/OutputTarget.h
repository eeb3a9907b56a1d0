#pragma once

#include "app/cli/Options.h"

#include <QString>

#include <thread>

namespace cli {

// The text of errno.
QString SystemError();

// The join writes into a hidden file beside the output, which takes the output's name only when
// the join has finished: a failed join leaves no half-written file and an existing one intact.
class PartialOutput {
public:
    explicit PartialOutput(const QString& output) : output_(output) {}
    // Removes the hidden file unless it took the output's name.
    ~PartialOutput();
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    bool Create();
    QString Path() const { return path_; }
    QString ErrorText() const { return error_; }

    // Gives the finished file the output's name, with the permissions a new file gets (or the
    // replaced file had). Without overwrite an output that appeared meanwhile is kept.
    bool Commit(bool overwrite);

private:
    QString output_;
    QString path_;
    QString error_;
    bool committed_ = false;
};

// How the output is reached.
enum class OutputWay {
    Renamed,     // a new or regular file, or a link: written under a hidden name, renamed when done
    InPlace,     // a FIFO or character device: opened by its name and written as it is
    StdoutFile,  // standard output, a regular file at its start: reopened by name, so it can seek
    Relayed,     // any other standard output, or a socket: the output stage writes into a pipe
};

struct OutputPlan {
    OutputWay way = OutputWay::Renamed;
    QString path;  // the output as named, absolute; empty for standard output
    QString shown;
    bool seekable = true;
    QString refusal;  // why nothing may be written
};

constexpr char kStdoutByName[] = "/proc/self/fd/1";

// How "-o -" reaches standard output as it is open now.
OutputPlan PlanStdout();
// How the named output is reached, or why it is refused.
OutputPlan PlanPath(const JoinOptions& options);

// A socket named as the output is written as a client of whatever listens on it; -1 and errno
// when nothing does.
int ConnectSocket(const QString& path);

// The output stage opens its output by name, and a socket or an appended standard output has no
// name that leads back to it: the stage writes into a pipe, and a thread passes on what arrives.
class StreamRelay {
public:
    explicit StreamRelay(int sink) : sink_(sink) {}
    ~StreamRelay() { Finish(); }
    StreamRelay(const StreamRelay&) = delete;
    StreamRelay& operator=(const StreamRelay&) = delete;

    bool Start();
    // The name under which the output stage opens the pipe.
    QString Path() const;
    // Waits until everything written into the pipe has been passed on: 0, or the sink's error.
    int Finish();

private:
    void Copy();

    int sink_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    int error_ = 0;
    std::thread thread_;
};

}  // namespace cli
