// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MessageBox.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex& HandlerMutex() {
    static std::mutex mutex;
    return mutex;
}

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

int WriteToStandardError(const QString& text, const QString& caption, unsigned flags) {
    const QByteArray line =
        (caption.isEmpty() ? QString() : caption + QStringLiteral(": ")).toUtf8() + text.toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
    return (flags & MB_TYPEMASK) == MB_YESNOCANCEL ? IDCANCEL : IDOK;
}

}  // namespace

int MessageBox(const QString& text, const QString& caption, unsigned flags) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = Handler();
    }
    return handler ? handler(text, caption, flags) : WriteToStandardError(text, caption, flags);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(HandlerMutex());
    return std::exchange(Handler(), std::move(handler));
}

QString ApplicationTitle() {
    return QStringLiteral("Wavestitch");
}

void ReportException(const QString& message) {
    MessageBox(message, ApplicationTitle(), MB_ICONERROR);
}

void ShowMessage(const QString& text) {
    MessageBox(text, ApplicationTitle(), MB_OK);
}

}  // namespace platform
