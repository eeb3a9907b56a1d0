// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Writes bytes to the file at path as QSaveFile does, by the path's bytes (QSaveFile encodes a name
// that is not UTF-8 with loss): into a new file beside the one any links lead to, which takes its
// place once complete, with the permissions the old one had. Empty, or what went wrong in
// QSaveFile's words.
QString SaveFile(const QString& path, const QByteArray& bytes);

}  // namespace platform
