// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>

namespace i18n {

// Raised when an INI file cannot be written; the message is "Unable to write to <path>".
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const QString& path);
};

// An INI file with the Windows profile rules: sections and keys match without regard to case
// (ASCII), the first matching section and key win, values are trimmed of blanks, a value in
// matching single or double quotes loses them, values are at most 2047 bytes, and a missing
// file, section or key gives the caller's default. The file is read at every lookup, so edits
// made while the program runs are seen at once. Writing creates the file, the section or the key
// as needed and keeps every other line as it was.
class IniFile {
public:
    static constexpr int kMaxValueLength = 2047;

    explicit IniFile(QString path);

    const QString& FileName() const { return path_; }

    // The value's bytes as stored in the file, without any decoding.
    QByteArray ReadBytes(const QByteArray& section, const QByteArray& key, const QByteArray& def) const;

    // The value decoded as UTF-8 (the settings file, file names).
    QString ReadString(const QString& section, const QString& key, const QString& def) const;

    // Writes value (UTF-8) to key in section: through a new file that replaces the old one, or in
    // place when the folder takes no new file. Throws IniWriteError when the file cannot be written.
    void WriteString(const QString& section, const QString& key, const QString& value) const;

    // The lookup on the text of a file already in memory; the same rules as ReadBytes.
    static QByteArray Lookup(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                             const QByteArray& def);

    // The value of key in section of a file already in memory, or nothing when the section or key
    // is missing; lets a caller tell a missing key from a value equal to its default.
    static std::optional<QByteArray> Find(const QByteArray& content, const QByteArray& section,
                                          const QByteArray& key);

    // The text of a file after writing value to key in section; the same rules as WriteString.
    static QByteArray WithValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                                const QByteArray& value);

private:
    std::optional<QByteArray> ReadAll() const;  // nothing when the file cannot be opened

    QString path_;
};

}  // namespace i18n
