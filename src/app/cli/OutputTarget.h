// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/cli/Options.h"
#include "join/OutputMetadata.h"
#include "join/PartialOutput.h"

#include <QString>

#include <cstdint>
#include <thread>
#include <vector>

namespace cli {

// The text of errno.
QString SystemError();

using join::PartialOutput;

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

// Why the cue sheet asked for may not be written, checked before the join: it would replace the
// output or an input, its folder is missing or cannot be written, it exists and --overwrite was not
// given, it could not hold a track per input, or its FILE line could not name the output. Empty
// when it may be written or none was asked for.
QString CueRefusal(const JoinOptions& options, const QString& outputPath);

// Writes the cue sheet asked for, once the join has succeeded; false with the message shown.
bool WriteCueSheet(const JoinOptions& options, const join::OutputMetadata& metadata,
                   const std::vector<std::uint64_t>& rowEndFrames, int sampleRate);

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
