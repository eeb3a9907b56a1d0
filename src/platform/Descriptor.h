// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// Owns a file descriptor from open(), socket() and the like, and closes it when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

}  // namespace platform
