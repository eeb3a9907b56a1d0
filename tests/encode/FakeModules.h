// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fakes/FakeControl.h"
#include "platform/ExeFolder.h"
#include "platform/Module.h"

#include <QString>

#include <gtest/gtest.h>

// Points the adapters at one build of a fake module (the folder the tests' CMake file puts it in)
// and keeps that module loaded, so its control block survives the adapter's load and unload.
template <typename Control>
class FakeModule {
public:
    FakeModule(const char* folder, const QString& fileName, const char* controlName) {
        const QString dir = QStringLiteral(WAVESTITCH_BUILD_DIR "/encode_fakes/") + folder + '/';
        platform::SetExeFolderForTesting(dir);
        if (module_.Load(dir + fileName)) {
            using ControlFunction = Control* (*)();
            if (const auto get = module_.Lookup<ControlFunction>(controlName)) {
                control = get();
                *control = Control{};
            }
        }
    }
    ~FakeModule() { platform::SetExeFolderForTesting(QString()); }
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    const platform::Module& Library() const { return module_; }

    Control* control = nullptr;

private:
    platform::Module module_;
};

using FakeLame = FakeModule<FakeLameControl>;
using FakeWma = FakeModule<FakeWmaControl>;
