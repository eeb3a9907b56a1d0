// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/OutputMetadata.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace join {

class JoinHost;

// Where a copying join writes: a descriptor open for writing, and what it allows.
struct CopySink {
    int fd = -1;
    bool seekable = false;  // the head is written again at the end, with the counts of what it holds
    bool replaces = false;  // a hidden file that will replace an existing output: written out as it goes
    bool early = false;     // written from the first part scanned on, not once every part is; seekable
    bool truncate = false;  // a file written from its start that may hold more: cut where the join ends
};

// Joins MP3 files frame for frame, without decoding, behind one new tag frame with the whole
// stream's counts. The parts are read and checked on a thread of their own, from construction on,
// while earlier ones are written. It runs on its host's thread and tells the host its progress, its
// messages and its failures, and asks it whether to stop, as the join job does.
class Mp3Copy {
public:
    enum class Result {
        Joined,
        Stopped,  // the host asked the join to stop
        Refused,  // a part cannot be joined: named through the host
        Failed,   // the message shown through the host
    };

    Mp3Copy(JoinHost& host, const QStringList& inputs);
    ~Mp3Copy();
    Mp3Copy(const Mp3Copy&) = delete;
    Mp3Copy& operator=(const Mp3Copy&) = delete;

    // Waits until the first part (early) or every part is scanned, before the output is opened.
    Result WaitForScan(bool early);
    // Writes the head and the frames to sink; shownOutput names it in messages.
    Result Write(const CopySink& sink, const QString& shownOutput, const OutputMetadata& metadata);

    // Where each part ends in what a gapless player plays, at SampleRate().
    std::vector<std::uint64_t> PartEnds() const;
    int SampleRate() const;
    // What the join keeps of the parts' own encoder delay and padding, which only decoding could take
    // out, and which parts reach back into bytes before their first frame: a line each.
    QStringList Notes() const;

private:
    struct State;
    JoinHost& host_;
    std::unique_ptr<State> state_;
};

// Whether the rows, as the list recorded them, can be joined frame for frame: all MP3, of one sample
// rate (and so one MPEG version) and one channel count. The copying join still checks every frame.
enum class CopyFit { Fits, NotMp3, KindsDiffer };
CopyFit CopyFitOf(const JoinRows& rows);

}  // namespace join
