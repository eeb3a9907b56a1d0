// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileFilter.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>

namespace {

// The name field's completions are a window of their own, which Qt hides only when the field loses
// the focus. Enter accepts the dialog with the focus still there, and a folder listed late can show
// them again after the dialog has gone: they stay over the main window unless hidden here.
class CompletionsWithDialog : public QObject {
public:
    explicit CompletionsWithDialog(QFileDialog* dialog)
        : QObject(dialog), dialog_(dialog), dialogObject_(dialog) {}

    // The events compare plain object addresses: they also come while the dialog and the popup are
    // being destroyed, when they are no longer of their own classes.
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == dialogObject_ && e->type() == QEvent::Show) {
            Watch();
        } else if (watched == dialogObject_ && e->type() == QEvent::Hide) {
            // The first showing may have made the completer only after the dialog was shown.
            Watch();
            if (popup_) {
                popup_->hide();
            }
        } else if (watched == popupObject_ && popup_ && e->type() == QEvent::Show && !dialog_->isVisible()) {
            QMetaObject::invokeMethod(popup_, &QWidget::hide, Qt::QueuedConnection);
        }
        return false;
    }

private:
    // The dialog makes its widgets, and the field its completer, only when first needed.
    void Watch() {
        const auto* name = dialog_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QAbstractItemView* popup =
            name != nullptr && name->completer() != nullptr ? name->completer()->popup() : nullptr;
        if (popup != nullptr && popup != popupObject_) {
            popup_ = popup;
            popupObject_ = popup;
            popup->installEventFilter(this);
        }
    }

    QFileDialog* dialog_;
    const QObject* dialogObject_;
    QPointer<QWidget> popup_;
    const QObject* popupObject_ = nullptr;
};

}  // namespace

QStringList FilterFromWindowsSyntax(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns =
            parts[i + 1].split(QRegularExpression(QStringLiteral("[;,]")), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        filters << parts[i].trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters;
}

QStringList WithTypedFiles(QStringList chosen, const QString& typed, const QString& folder) {
    // Quotes enclose the names, as the dialog itself writes several chosen files into the field.
    QStringList names;
    if (typed.contains(QLatin1Char('"'))) {
        const QStringList parts = typed.split(QLatin1Char('"'));
        for (qsizetype i = 1; i < parts.size(); i += 2) {
            names << parts[i];
        }
    } else {
        names << typed;
    }
    for (const QString& name : names) {
        if (name.isEmpty()) {
            continue;
        }
        QString path = QDir::cleanPath(QDir(folder).absoluteFilePath(name));
        if (!QFileInfo::exists(path) &&
            (name == QLatin1String("~") || name.startsWith(QLatin1String("~/")))) {
            path = QDir::cleanPath(QDir::homePath() + name.mid(1));
        }
        if (!chosen.contains(path)) {
            chosen << path;
        }
    }
    return chosen;
}

void HideCompletionsWithDialog(QFileDialog* dialog) {
    dialog->installEventFilter(new CompletionsWithDialog(dialog));
}
