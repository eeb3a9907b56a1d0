// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/TerminalHost.h"

#include "app/cli/Interrupt.h"
#include "platform/FilePath.h"

#include <QFileInfo>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace cli {
namespace {

constexpr int kBarWidth = 24;

int TerminalColumns() {
    winsize size = {};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void WriteError(const QString& text) {
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

}  // namespace

TerminalHost::TerminalHost(bool showProgress, Words words, QString outputStagePath, QString shownOutput)
    : showProgress_(showProgress),
      words_(std::move(words)),
      outputStagePath_(std::move(outputStagePath)),
      shownOutput_(std::move(shownOutput)) {
    // Encoder adapters show their messages directly; the progress line makes way for them too.
    previous_ =
        platform::SetMessageBoxHandler([this](const QString& text, const QString& caption, unsigned flags) {
            ClearLine();
            const platform::MessageBoxHandler& next = previous_;
            return next ? next(text, caption, flags) : platform::IDOK;
        });
}

TerminalHost::~TerminalHost() {
    ClearLine();
    platform::SetMessageBoxHandler(previous_);
}

void TerminalHost::SetStatusText(const QString& text) {
    outputStage_ = text == outputStagePath_;
    name_ = platform::ShownName(QFileInfo(outputStage_ ? shownOutput_ : text).fileName());
    Draw();
}

void TerminalHost::SetJoinProgress(int percent) {
    joinPercent_ = percent;
    Draw();
}

void TerminalHost::SetOutputProgress(int percent) {
    outputPercent_ = percent;
    Draw();
}

bool TerminalHost::Terminated() const {
    return Interrupted();
}

int TerminalHost::MessageBox(const QString& text, const QString& caption, unsigned flags) {
    QString shown = text;
    shown.replace(outputStagePath_, shownOutput_);
    return platform::MessageBox(shown, caption, flags);
}

QString TerminalHost::ProgressLine(const QString& word, const QString& name, int percent, int columns) {
    const int filled = kBarWidth * percent / 100;
    const QString tail = QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                         QString(kBarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ") +
                         QStringLiteral("%1%").arg(percent, 3);
    // One column stays free: writing the last one makes some terminals wrap, and the line would
    // no longer be redrawn in place.
    const qsizetype room = columns - 1 - word.size() - 1 - tail.size();
    QString shownName = name;
    if (room < 4) {
        shownName.clear();
    } else if (shownName.size() > room) {
        shownName = QStringLiteral("...") + shownName.right(room - 3);
    }
    return word + QLatin1Char(' ') + shownName + tail;
}

void TerminalHost::Draw() {
    if (!showProgress_ || name_.isEmpty()) {
        return;
    }
    const QString line = ProgressLine(outputStage_ ? words_.encoding : words_.joining, name_,
                                      outputStage_ ? outputPercent_ : joinPercent_, TerminalColumns());
    // Blocks come every few milliseconds; the terminal hears only of changes.
    if (line != drawn_) {
        WriteError(QStringLiteral("\r\x1b[K") + line);
        drawn_ = line;
    }
}

void TerminalHost::ClearLine() {
    if (!drawn_.isEmpty()) {
        WriteError(QStringLiteral("\r\x1b[K"));
        drawn_.clear();
    }
}

}  // namespace cli
