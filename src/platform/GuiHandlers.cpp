// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/GuiHandlers.h"

#include "platform/FilePath.h"
#include "platform/MessageBox.h"
#include "platform/ShellOpen.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace platform {
namespace {

QMessageBox::Icon IconFor(unsigned flags) {
    switch (flags & MB_ICONMASK) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int ShowQMessageBox(const QString& text, const QString& caption, unsigned flags) {
    // Windows titles a box without a caption of its own "Error"; the program's texts rely on that.
    // A file name that is not UTF-8 shows its bytes escaped, as the list shows it.
    QMessageBox box(IconFor(flags), caption.isEmpty() ? QStringLiteral("Error") : caption, ShownName(text),
                    QMessageBox::NoButton, QApplication::activeWindow());
    // Texts name files; a name such as <b>live</b>.wav must show as it is spelled.
    box.setTextFormat(Qt::PlainText);
    // An address or a file name in a message can be selected and copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    if ((flags & MB_SYSTEMMODAL) != 0) {
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    switch (flags & MB_TYPEMASK) {
        case MB_YESNOCANCEL:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Ok:
            return IDOK;
        default:
            // Closed with the window's close button or Escape.
            return (flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
    }
}

// When a dialog closes, the window it was opened from gets the keyboard back. A window manager does
// that on its own; without one (a bare X server, some kiosk sessions) the keys went nowhere until
// another dialog had come and gone.
class FocusBackAfterDialogs : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Hide && watched->isWidgetType()) {
            auto* dialog = qobject_cast<QDialog*>(watched);
            QWidget* owner = dialog != nullptr && dialog->isWindow() && dialog->parentWidget() != nullptr
                                 ? dialog->parentWidget()->window()
                                 : nullptr;
            if (owner != nullptr && owner->isVisible()) {
                QTimer::singleShot(0, owner, [owner = QPointer<QWidget>(owner)] {
                    // Unless another dialog has come up in the meantime.
                    const QWidget* modal = QApplication::activeModalWidget();
                    if (owner && owner->isVisible() && (modal == nullptr || modal == owner)) {
                        owner->activateWindow();
                    }
                });
            }
        }
        return false;
    }
};

}  // namespace

void ReturnFocusAfterDialogs() {
    qApp->installEventFilter(new FocusBackAfterDialogs(qApp));
}

void InstallGuiHandlers() {
    SetMessageBoxHandler(ShowQMessageBox);
    SetShellOpenHandler([](const QString& address) {
        const QUrl url = QUrl::fromUserInput(address);
        // On X11 openUrl is true as soon as xdg-open has started, whether or not a browser comes up
        // after it; only a desktop without any opener is seen here.
        return url.isValid() && QDesktopServices::openUrl(url);
    });
}

}  // namespace platform
