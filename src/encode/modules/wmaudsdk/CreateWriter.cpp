// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioWriter.h"

#include <memory>
#include <new>
#include <string>

// The one entry point of wmaudsdk.so.

namespace {

// UTF-16 to UTF-8, the encoding of file names here. A name that is not UTF-8 comes with each of its
// other bytes as an unpaired U+DC80 + byte; any other unpaired surrogate makes the name invalid.
bool ToUtf8(const char16_t* text, std::string* out) {
    for (const char16_t* p = text; *p != 0; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (p[1] < 0xDC00 || p[1] > 0xDFFF) {
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out->push_back(static_cast<char>(c - 0xDC00));
            continue;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (c >> 6)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (c >> 12)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (c >> 18)));
            out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

WmaStatus CreateWriter(const char16_t* path, WmaAudioWriter** writer) {
    if (writer == nullptr) {
        return WMA_E_INVALIDARG;
    }
    *writer = nullptr;
    std::string name;
    if (path == nullptr || !ToUtf8(path, &name) || name.empty()) {
        return WMA_E_INVALIDARG;
    }
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "asf", nullptr) < 0) {
        return WMA_E_FAIL;
    }
    wmaudsdk::FormatContextPtr format(raw);
    // The "file:" prefix keeps a name with a colon from being taken for another protocol.
    if (avio_open(&format->pb, ("file:" + name).c_str(), AVIO_FLAG_WRITE) < 0) {
        return WMA_E_CANNOT_CREATE;
    }
    auto* created = new (std::nothrow) wmaudsdk::AudioWriter(std::move(format), name);
    if (created == nullptr) {
        return WMA_E_OUTOFMEMORY;
    }
    *writer = created;
    return WMA_OK;
}

}  // namespace

extern "C" WMA_WRITER_EXPORT WmaStatus WMAudioCreateWriter(const char16_t* path, WmaAudioWriter** writer) {
    // The callers are C: no exception may leave.
    try {
        return CreateWriter(path, writer);
    } catch (const std::bad_alloc&) {
        return WMA_E_OUTOFMEMORY;
    } catch (...) {
        return WMA_E_FAIL;
    }
}
