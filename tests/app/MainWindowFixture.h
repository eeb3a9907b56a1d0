// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Startup.h"
#include "audio/Decoder.h"
#include "platform/ExeFolder.h"
#include "platform/LangId.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

inline void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A program folder of its own for each test, so the settings and language files a test writes
// never touch the build folder.
class MainWindowFixture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        appDir_ = dir_.path() + QLatin1Char('/');
        platform::SetExeFolderForTesting(appDir_);
        // The banner's file and the join's temporary file go to the test's own folder too.
        previousTmpDir_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", dir_.path().toLocal8Bit());
        previousLangId_ = platform::SetUserDefaultLangIdProvider([this] { return langId_; });
    }
    void TearDown() override {
        DestroyForms();
        platform::SetExeFolderForTesting(QString());
        if (previousTmpDir_.isEmpty()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", previousTmpDir_);
        }
        platform::SetUserDefaultLangIdProvider(previousLangId_);
        audio::SetOutputDeviceCheck({});
    }

    void WriteSettings(const QByteArray& content) {
        WriteFile(appDir_ + QStringLiteral("Wavestitch.ini"), content);
    }
    void WriteLanguage(const QString& name, const QByteArray& content) {
        WriteFile(appDir_ + QStringLiteral("WSLanguage/") + name, content);
    }
    // Puts the shipped language files in the program's folder; their names, in order.
    QStringList WriteShippedLanguages() {
        const QDir shipped(QStringLiteral(WAVESTITCH_SOURCE_DIR "/lang"));
        const QStringList files = shipped.entryList({QStringLiteral("*.ini")}, QDir::Files);
        for (const QString& file : files) {
            WriteLanguage(file, ReadFile(shipped.filePath(file)));
        }
        return files;
    }

    QTemporaryDir dir_;
    QString appDir_;
    std::uint16_t langId_ = 0x0409;
    platform::LangIdProvider previousLangId_;
    QByteArray previousTmpDir_;
};
