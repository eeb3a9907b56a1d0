// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// A loadable module (shared library) opened with dlopen and closed when the object goes.
class Module {
public:
    Module() = default;
    explicit Module(const QString& path) { Load(path); }
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;

    // Loads the module at path, closing any module held before. Returns false and keeps the
    // loader's message in Error() when it cannot be loaded.
    bool Load(const QString& path);
    void Free();
    bool IsLoaded() const { return handle_ != nullptr; }

    // The address of an exported symbol, or null.
    void* Symbol(const char* name) const;
    template <typename Function>
    Function Lookup(const char* name) const {
        return reinterpret_cast<Function>(Symbol(name));
    }

    const QString& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    QString error_;
};

}  // namespace platform
