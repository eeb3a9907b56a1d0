// SPDX-License-Identifier: GPL-3.0-or-later
// IniFile lookups and writes on an arbitrary file, and the decoding of its text by any character
// set number a language file may state.
#include "FuzzSupport.h"
#include "i18n/IniFile.h"
#include "i18n/TextCodec.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QByteArray Take(FuzzedDataProvider& provider, std::size_t maxLength) {
    const std::string text = provider.ConsumeRandomLengthString(maxLength);
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// A name or value that survives a line of the file unchanged: on one line, not padded with blanks
// the reader trims; a name that cannot pass for a comment, a section header or contain the '='.
bool OnOneLine(const QByteArray& text) {
    return !text.contains('\n') && !text.contains('\r') && text == text.trimmed();
}
bool PlainSection(const QByteArray& name) {
    return !name.isEmpty() && OnOneLine(name);
}
bool PlainKey(const QByteArray& name) {
    return !name.isEmpty() && OnOneLine(name) && !name.contains('=') && !name.startsWith(';') &&
           !name.startsWith('[');
}
bool PlainValue(const QByteArray& value) {
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    return OnOneLine(value) && !quoted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const int charSet = provider.ConsumeIntegral<std::uint8_t>();
    const QByteArray section = Take(provider, 64);
    const QByteArray key = Take(provider, 64);
    const QByteArray value = Take(provider, 4096);
    const std::string rest = provider.ConsumeRemainingBytesAsString();
    const QByteArray content(rest.data(), static_cast<qsizetype>(rest.size()));

    const std::optional<QByteArray> found = i18n::IniFile::Find(content, section, key);
    const QByteArray def("\x01missing");
    FUZZ_CHECK(i18n::IniFile::Lookup(content, section, key, def) == found.value_or(def));
    if (found) {
        FUZZ_CHECK(found->size() <= i18n::IniFile::kMaxValueLength);
        i18n::DecodeCharSet(*found, charSet);
    }
    i18n::DecodeCharSet(content, charSet);

    // What is written is read back, when the reader's rules leave it as written.
    const QByteArray updated = i18n::IniFile::WithValue(content, section, key, value);
    if (PlainSection(section) && PlainKey(key) && PlainValue(value)) {
        const std::optional<QByteArray> reread = i18n::IniFile::Find(updated, section, key);
        FUZZ_CHECK(reread && *reread == value.left(i18n::IniFile::kMaxValueLength));
    }
    return 0;
}
