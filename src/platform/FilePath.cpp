// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FilePath.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// A byte DecodeName carried: a low surrogate of the escape range with no high surrogate before it.
bool IsEscape(const QString& text, qsizetype i) {
    const char16_t unit = text.at(i).unicode();
    return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF &&
           (i == 0 || !text.at(i - 1).isHighSurrogate());
}

// The length of the valid UTF-8 sequence at bytes[i], or 0: overlong forms, surrogates and code
// points beyond U+10FFFF are not valid.
int ValidSequence(const QByteArray& bytes, qsizetype i, char32_t& codePoint) {
    const auto byte = [&](qsizetype at) { return static_cast<unsigned char>(bytes.at(at)); };
    const unsigned char lead = byte(i);
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || i + length > bytes.size()) {
        return 0;
    }
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        return 0;
    }
    codePoint = c;
    return length;
}

}  // namespace

QString DecodeName(const QByteArray& name) {
    QString text;
    text.reserve(name.size());
    for (qsizetype i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name.at(i));
        char32_t c = lead;
        const int length = lead < 0x80 ? 1 : ValidSequence(name, i, c);
        if (length == 0) {
            text += QChar(static_cast<char16_t>(kEscapeBase + lead));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(c)) {
            text += QChar(QChar::highSurrogate(c));
            text += QChar(QChar::lowSurrogate(c));
        } else {
            text += QChar(static_cast<char16_t>(c));
        }
        i += length;
    }
    return text;
}

QByteArray EncodeName(const QString& path) {
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (IsEscape(path, i)) {
            bytes += QStringView(path).sliced(from, i - from).toUtf8();
            bytes += static_cast<char>(path.at(i).unicode() - kEscapeBase);
            from = i + 1;
        }
    }
    return from == 0 ? path.toUtf8() : bytes + QStringView(path).sliced(from).toUtf8();
}

QString ShownName(const QString& text) {
    // Most text has nothing to escape and is shown as it is, without a copy.
    qsizetype first = 0;
    while (first < text.size() && !IsEscape(text, first)) {
        ++first;
    }
    if (first == text.size()) {
        return text;
    }
    QString shown = text.left(first);
    for (qsizetype i = first; i < text.size(); ++i) {
        if (IsEscape(text, i)) {
            shown +=
                QStringLiteral("\\x") + QString::number(text.at(i).unicode() - kEscapeBase, 16).toUpper();
        } else {
            shown += text.at(i);
        }
    }
    return shown;
}

QString AbsolutePath(const QString& path) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/'))) {
        return QDir::cleanPath(path);
    }
    char* folder = getcwd(nullptr, 0);
    const QString current = folder != nullptr ? DecodeName(QByteArray(folder)) : QDir::currentPath();
    std::free(folder);
    return QDir::cleanPath(current + QLatin1Char('/') + path);
}

QString CanonicalPath(const QString& path) {
    char* resolved = realpath(EncodeName(path).constData(), nullptr);
    const QString canonical = resolved != nullptr ? DecodeName(QByteArray(resolved)) : QString();
    std::free(resolved);
    return canonical;
}

FileStatus::FileStatus(const QString& path) {
    const QByteArray name = EncodeName(path);
    struct stat link {};
    symLink_ = lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode);
    exists_ = stat(name.constData(), &info_) == 0;
}

bool OpenFile(QFile& file, const QString& path, QIODevice::OpenMode mode) {
    int flags = O_CLOEXEC;
    if (mode.testFlag(QIODevice::WriteOnly)) {
        flags |= mode.testFlag(QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
        flags |= mode.testFlag(QIODevice::ExistingOnly) ? 0 : O_CREAT;
        flags |= mode.testFlag(QIODevice::NewOnly) ? O_EXCL : 0;
        // As with QFile, writing alone replaces the file unless it appends.
        if (mode.testFlag(QIODevice::Append)) {
            flags |= O_APPEND;
        } else if (mode.testFlag(QIODevice::Truncate) ||
                   !mode.testAnyFlags(QIODevice::ReadOnly | QIODevice::NewOnly)) {
            flags |= O_TRUNC;
        }
    }
    const int fd = open(EncodeName(path).constData(), flags, 0666);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (!mode.testFlag(QIODevice::WriteOnly) && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        errno = EISDIR;
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return false;
    }
    return true;
}

bool RemoveFile(const QString& path) {
    return unlink(EncodeName(path).constData()) == 0;
}

}  // namespace platform
