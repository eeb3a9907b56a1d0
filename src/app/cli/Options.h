// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "join/JoinJob.h"
#include "join/OutputMetadata.h"

#include <QString>
#include <QStringList>

namespace cli {

enum class InputOrder { Given, Add, Natural };
using join::TagSource;

// What the command line asks for, checked: a join's output settings are complete and valid.
struct JoinOptions {
    QStringList inputs;
    QString output;
    join::OutputKind kind = join::OutputKind::Wav;
    int mp3Kbps = 128;
    int wmaKbps = 96;
    int m4bKbps = 0;  // 0: 64 for mono, 128 for stereo
    bool m4bMusic = false;
    int opusKbps = 0;  // 0: 64 for mono, 96 for stereo
    bool crc = false;
    bool copyright = false;
    bool original = false;
    bool privateFlag = false;
    InputOrder order = InputOrder::Given;
    TagSource tags = TagSource::First;
    int tagsInput = 0;  // 1-based, in the order joined
    bool chapters = false;
    QString cue;
    bool overwrite = false;
    bool quiet = false;
    bool info = false;
    bool copy = false;  // MP3 frames joined as they are, no decoding
};

struct ParsedCommandLine {
    enum class Action { Join, Info, Help, Version, UsageError };
    Action action = Action::UsageError;
    JoinOptions options;
    QString error;  // the usage error, for Action::UsageError
};

// arguments as main receives them, the program name first.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

QString UsageText();

// The inputs as full paths, in the order given or sorted as asked.
QStringList InputPaths(const JoinOptions& options);

// What the join writes besides the audio, as the options ask.
join::MetadataChoice MetadataOf(const JoinOptions& options);

// The output settings the join job reads when its output stage begins.
join::JoinOutput OutputOf(const JoinOptions& options, const QString& path);

}  // namespace cli
