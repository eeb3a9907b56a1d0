// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace i18n {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// One line of the file; end excludes the line break, next is where the following line starts.
struct Line {
    qsizetype begin;
    qsizetype end;
    qsizetype next;
};

std::vector<Line> SplitLines(const QByteArray& content) {
    std::vector<Line> lines;
    // A byte-order mark written by an editor must not hide a section header on the first line.
    qsizetype pos = content.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    while (pos < content.size()) {
        const qsizetype newline = content.indexOf('\n', pos);
        const qsizetype next = newline < 0 ? content.size() : newline + 1;
        qsizetype end = newline < 0 ? content.size() : newline;
        if (end > pos && content[end - 1] == '\r') {
            --end;
        }
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Profile names compare case-insensitively in ASCII only, so UTF-8 names never fold by accident.
bool SameName(const QByteArray& a, const QByteArray& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QByteArray name;         // section name or key
    QByteArray value;        // entries only: trimmed, quotes removed, not yet truncated
    qsizetype valueAt = -1;  // entries only: offset in the line where the written value starts
};

ParsedLine ParseLine(const QByteArray& line) {
    ParsedLine parsed;
    const QByteArray text = line.trimmed();
    if (text.isEmpty() || text.startsWith(';')) {
        return parsed;
    }
    if (text.startsWith('[')) {
        const qsizetype close = text.lastIndexOf(']');
        if (close > 0) {
            parsed.kind = LineKind::Section;
            parsed.name = text.mid(1, close - 1).trimmed();
            return parsed;
        }
    }
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) {
        return parsed;
    }
    parsed.kind = LineKind::Entry;
    parsed.name = line.left(equals).trimmed();
    parsed.value = line.mid(equals + 1).trimmed();
    if (parsed.value.size() >= 2 && (parsed.value.front() == '"' || parsed.value.front() == '\'') &&
        parsed.value.back() == parsed.value.front()) {
        parsed.value = parsed.value.mid(1, parsed.value.size() - 2);
    }
    // A rewritten value keeps the blanks the user put after the equals sign, unless blanks are all there is.
    qsizetype at = equals + 1;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
        ++at;
    }
    parsed.valueAt = at < line.size() ? at : equals + 1;
    return parsed;
}

// Where section and key sit in the file; indexes into the line list, -1 when absent.
struct Location {
    int section = -1;
    int lastEntry = -1;  // last entry line of the section's first block
    int key = -1;
    QByteArray value;
    qsizetype valueAt = -1;
};

Location Locate(const QByteArray& content, const std::vector<Line>& lines, const QByteArray& section,
                const QByteArray& key) {
    Location where;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const ParsedLine parsed = ParseLine(content.mid(lines[i].begin, lines[i].end - lines[i].begin));
        if (parsed.kind == LineKind::Section) {
            if (where.section >= 0) {
                break;  // only the first block of a repeated section counts
            }
            if (SameName(parsed.name, section)) {
                where.section = i;
            }
        } else if (parsed.kind == LineKind::Entry && where.section >= 0) {
            where.lastEntry = i;
            if (where.key < 0 && SameName(parsed.name, key)) {
                where.key = i;
                where.value = parsed.value;
                where.valueAt = parsed.valueAt;
            }
        }
    }
    return where;
}

QByteArray LineBreakOf(const QByteArray& content) {
    const qsizetype newline = content.indexOf('\n');
    return newline > 0 && content[newline - 1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");
}

}  // namespace

IniWriteError::IniWriteError(const QString& path)
    : std::runtime_error(QString(QStringLiteral("Unable to write to ") + path).toStdString()) {}

IniFile::IniFile(QString path) : path_(std::move(path)) {}

std::optional<QByteArray> IniFile::Find(const QByteArray& content, const QByteArray& section,
                                        const QByteArray& key) {
    const Location where = Locate(content, SplitLines(content), section, key);
    if (where.key < 0) {
        return std::nullopt;
    }
    return where.value.left(kMaxValueLength);
}

QByteArray IniFile::Lookup(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                           const QByteArray& def) {
    return Find(content, section, key).value_or(def);
}

std::optional<QByteArray> IniFile::ReadAll() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

QByteArray IniFile::ReadBytes(const QByteArray& section, const QByteArray& key, const QByteArray& def) const {
    const std::optional<QByteArray> content = ReadAll();
    return content ? Lookup(*content, section, key, def) : def;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const std::optional<QByteArray> content = ReadAll();
    if (!content) {
        return def;
    }
    const std::optional<QByteArray> value = Find(*content, section.toUtf8(), key.toUtf8());
    return value ? QString::fromUtf8(*value) : def;
}

QByteArray IniFile::WithValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                              const QByteArray& value) {
    const std::vector<Line> lines = SplitLines(content);
    const Location where = Locate(content, lines, section, key);
    const QByteArray lineBreak = LineBreakOf(content);
    QByteArray result = content;

    if (where.key >= 0) {
        const Line& line = lines[where.key];
        const qsizetype from = line.begin + where.valueAt;
        return result.replace(from, line.end - from, value);
    }
    const QByteArray entry = key + '=' + value;
    if (where.section >= 0) {
        const Line& after = lines[where.lastEntry >= 0 ? where.lastEntry : where.section];
        if (after.next == content.size() && !content.endsWith('\n')) {
            // The line ends the file without a line break (at most a lone carriage return, which
            // ends no line); the new entry must not join it.
            return result.insert(after.end, lineBreak + entry);
        }
        return result.insert(after.next, entry + lineBreak);
    }
    const qsizetype bomSize = content.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    if (result.size() > bomSize && !result.endsWith('\n')) {
        result += lineBreak;
    }
    result += '[' + section + ']' + lineBreak + entry + lineBreak;
    return result;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) const {
    QByteArray content;
    QFile existing(path_);
    if (existing.exists()) {
        // Writing over a file we could not read would lose its other entries.
        if (!existing.open(QIODevice::ReadOnly)) {
            throw IniWriteError(path_);
        }
        content = existing.readAll();
        existing.close();
    }
    const QByteArray updated = WithValue(content, section.toUtf8(), key.toUtf8(), value.toUtf8());
    // QSaveFile replaces the file only after the whole text is written, so a failure keeps the old file.
    QSaveFile out(path_);
    if (out.open(QIODevice::WriteOnly)) {
        if (out.write(updated) != updated.size() || !out.commit()) {
            throw IniWriteError(path_);
        }
        return;
    }
    // A folder that takes no new file (a read-only program folder) may still hold a writable
    // settings file: that one is rewritten in place, as the Windows profile functions always do.
    QFile inPlace(path_);
    if (!inPlace.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) ||
        inPlace.write(updated) != updated.size() || !inPlace.resize(updated.size()) || !inPlace.flush()) {
        throw IniWriteError(path_);
    }
}

}  // namespace i18n
