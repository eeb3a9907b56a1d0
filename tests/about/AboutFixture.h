// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MainWindowFixture.h"
#include "platform/ShellOpen.h"
#include "platform/TempFolder.h"

#include <QAccessible>
#include <QStringList>
#include <QTemporaryDir>

// Presses widget through its accessibility action, as a screen reader does; it must be a link.
inline void PressAsLink(QWidget* widget) {
    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(widget);
    ASSERT_EQ(link->role(), QAccessible::Link);
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// A main-window fixture whose temporary folder is a folder of its own, with every address the
// program asks to open recorded and, unless browserOpens_ is cleared, taken by a browser.
class AboutFixture : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(temp_.isValid());
        previousTmp_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp_.path().toLocal8Bit());
        tempPath_ = platform::TempFolder();
        previousShellOpen_ = platform::SetShellOpenHandler([this](const QString& address) {
            opened_ << address;
            return browserOpens_;
        });
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        platform::SetShellOpenHandler(previousShellOpen_);
        if (previousTmp_.isEmpty()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", previousTmp_);
        }
    }

    QString AdFilePath() const { return tempPath_ + QStringLiteral("_WavestitchAd.swf"); }

    QTemporaryDir temp_;
    QString tempPath_;
    QStringList opened_;
    bool browserOpens_ = true;

private:
    QByteArray previousTmp_;
    platform::ShellOpenHandler previousShellOpen_;
};
