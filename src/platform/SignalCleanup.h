// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace platform {

// SIGTERM, SIGINT and SIGHUP first remove what RemovedOnSignal objects name, files before folders
// (a folder only when empty), then end the process as the signal would have. A signal ignored at
// start stays ignored.
void InstallSignalCleanup();

// A file or folder that a signal ending the process removes, for as long as this object lives.
// Names too long for a path are not kept, and at most 16 at a time.
class RemovedOnSignal {
public:
    enum class Kind { File, Folder };
    explicit RemovedOnSignal(const QByteArray& path, Kind kind = Kind::File);
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

private:
    int slot_ = -1;
};

}  // namespace platform
