// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Module.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

Module::~Module() {
    Free();
}

Module::Module(Module&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

Module& Module::operator=(Module&& other) noexcept {
    if (this != &other) {
        Free();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool Module::Load(const QString& path) {
    Free();
    error_.clear();
    if (path.isEmpty()) {
        // dlopen of an empty name would hand back the program itself.
        error_ = QStringLiteral("no module named");
        return false;
    }
    handle_ = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* message = dlerror();
        error_ = message != nullptr ? QString::fromLocal8Bit(message) : QStringLiteral("cannot load ") + path;
        return false;
    }
    return true;
}

void Module::Free() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

void* Module::Symbol(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

}  // namespace platform
