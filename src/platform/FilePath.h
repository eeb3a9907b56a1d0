// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <sys/stat.h>

class QFile;

// A Linux file name is any byte string, and QString cannot hold one that is not UTF-8: Qt's
// QFile::decodeName makes U+FFFD of such bytes and QFile::encodeName cannot give them back. Here a
// QString carries them as Python's surrogateescape does, each byte of an invalid sequence as the
// lone surrogate U+DC80 + byte, and every open goes through EncodeName.

namespace platform {

// The name the system gave (argv, getcwd), as text; valid UTF-8 decodes as QString::fromUtf8 does.
QString DecodeName(const QByteArray& name);
// The bytes DecodeName was given; any other text as UTF-8.
QByteArray EncodeName(const QString& path);
// Text to show: each byte DecodeName carried as \xNN ("caf\xE9.wav"), the rest as it is.
QString ShownName(const QString& text);

// path against the working folder, cleaned, as QFileInfo::absoluteFilePath and QDir::cleanPath make
// it; those would encode the working folder, and a relative path, with QFile::encodeName.
QString AbsolutePath(const QString& path);

// path with every link and "." or ".." resolved, by its bytes, as QFileInfo::canonicalFilePath
// would give it; empty when it does not exist.
QString CanonicalPath(const QString& path);

// What QFileInfo tells of a path, asked by its bytes. Links are followed, but for IsSymLink.
class FileStatus {
public:
    explicit FileStatus(const QString& path);
    bool Exists() const { return exists_; }
    bool IsDir() const { return exists_ && S_ISDIR(info_.st_mode); }
    bool IsFile() const { return exists_ && S_ISREG(info_.st_mode); }
    bool IsSymLink() const { return symLink_; }
    qint64 Size() const { return exists_ ? static_cast<qint64>(info_.st_size) : 0; }

private:
    struct stat info_ {};
    bool exists_ = false;
    bool symLink_ = false;
};

// Opens file on path's bytes as QFile::open(mode) opens a named file (a folder is not opened for
// reading); false with errno set.
bool OpenFile(QFile& file, const QString& path, QIODevice::OpenMode mode);

// Removes the file at path; false with errno set.
bool RemoveFile(const QString& path);

}  // namespace platform
