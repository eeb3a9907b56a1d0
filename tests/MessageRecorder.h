// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MessageBox.h"

#include <QString>

#include <vector>

// Records every message box shown while it lives and answers each with a chosen button.
class MessageRecorder {
public:
    struct Message {
        QString text;
        QString caption;
        unsigned flags;
    };

    explicit MessageRecorder(int answer = platform::IDOK) {
        previous_ = platform::SetMessageBoxHandler(
            [this, answer](const QString& text, const QString& caption, unsigned flags) {
                messages.push_back({text, caption, flags});
                return answer;
            });
    }
    ~MessageRecorder() { platform::SetMessageBoxHandler(previous_); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<Message> messages;

private:
    platform::MessageBoxHandler previous_;
};
