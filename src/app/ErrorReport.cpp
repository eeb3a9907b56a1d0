// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ErrorReport.h"

#include "platform/MessageBox.h"

#include <QIcon>

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: Qt would append it to every window title, and the program's captions are
    // exactly the ones it sets. A window without a title is still named after the program.
    setApplicationName(QStringLiteral("Wavestitch"));
    // The desktop entry and the icon an installation puts in the icon theme carry this name.
    const QString appId = QStringLiteral("example.verdane.wavestitch");
    setDesktopFileName(appId);
    setWindowIcon(QIcon::fromTheme(appId));
}

bool TApplication::notify(QObject* receiver, QEvent* e) {
    bool handled = false;
    GuardedRun([&] { handled = QApplication::notify(receiver, e); });
    return handled;
}

void ReportCurrentException() {
    // Anything that is not a standard exception is reported with an empty message.
    try {
        throw;
    } catch (const std::exception& error) {
        platform::ReportException(QString::fromUtf8(error.what()));
    } catch (...) {
        platform::ReportException(QString());
    }
}
