// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Accessibility.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

namespace platform {

namespace {

// The widgets given a role of ours, until they are destroyed.
QHash<const QObject*, QAccessible::Role>& Roles() {
    static QHash<const QObject*, QAccessible::Role> roles;
    return roles;
}

// A left click at the middle of widget, as the mouse gives it.
void Click(QWidget* widget) {
    const QPointF centre = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

class RoleAccessible : public QAccessibleWidget {
public:
    RoleAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text t) const override {
        // A label shown as a link is named by its text, as it is as a label.
        const auto* label = qobject_cast<const QLabel*>(widget());
        if (t == QAccessible::Name && label != nullptr && widget()->accessibleName().isEmpty()) {
            return label->text();
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (role() == QAccessible::Link) {
            names.prepend(pressAction());
        }
        return names;
    }
    void doAction(const QString& name) override {
        if (role() == QAccessible::Link && name == pressAction()) {
            Click(widget());
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
};

// Qt asks the factories for each class of an object, the most derived first; answering only for
// that one keeps Qt's own interface for every object without a role of ours.
QAccessibleInterface* RoleFactory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType() ||
        className != QLatin1String(object->metaObject()->className())) {
        return nullptr;
    }
    const auto role = Roles().constFind(object);
    return role != Roles().cend() ? new RoleAccessible(static_cast<QWidget*>(object), *role) : nullptr;
}

constexpr int kKeyboardTipDelayMs = 400;

class KeyboardToolTips : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        auto* widget = static_cast<QWidget*>(watched);
        if (e->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                reason == Qt::ShortcutFocusReason) {
                // A tip goes at the next key event, the release of the key that moved the focus
                // included: it comes a moment later, as a tip under the mouse does.
                QTimer::singleShot(kKeyboardTipDelayMs, widget, [widget] {
                    if (widget->hasFocus()) {
                        QToolTip::showText(widget->mapToGlobal(QPoint(0, widget->height())),
                                           widget->toolTip(), widget);
                    }
                });
            }
        } else if (e->type() == QEvent::FocusOut && QToolTip::isVisible() &&
                   QToolTip::text() == widget->toolTip()) {
            QToolTip::hideText();
        }
        return false;
    }
};

}  // namespace

void SetAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = (QAccessible::installFactory(RoleFactory), true);
    Q_UNUSED(installed);
    if (!Roles().contains(widget)) {
        // A widget being destroyed is Qt's to describe: its class is no longer the one it was made as.
        QObject::connect(widget, &QObject::destroyed, [](QObject* gone) { Roles().remove(gone); });
    }
    Roles().insert(widget, role);
    // Qt makes and keeps an interface as soon as a widget reports a change, a label its first text:
    // one made before the role is dropped, for the next question to make ours.
    QAccessibleInterface* known = QAccessible::queryAccessibleInterface(widget);
    if (known != nullptr && known->role() != role) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
    }
}

void SetFrameRoles(QWidget* window) {
    for (QFrame* frame : window->findChildren<QFrame*>()) {
        if (frame->metaObject() == &QFrame::staticMetaObject && !Roles().contains(frame)) {
            const bool line = frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine;
            SetAccessibleRole(frame, line ? QAccessible::Separator : QAccessible::Client);
        }
    }
}

void ShowToolTipOnKeyboardFocus(QWidget* widget) {
    static QPointer<KeyboardToolTips> filter;
    if (filter == nullptr) {
        filter = new KeyboardToolTips(QCoreApplication::instance());
    }
    widget->installEventFilter(filter);
}

QString NameOfCaption(const QString& caption) {
    // The East Asian files put the mnemonic after the word, in brackets of either width.
    static const QRegularExpression bracketed(QStringLiteral(u"\\s*[(\uFF08]&[^)\uFF09][)\uFF09]"));
    QString bare = caption;
    bare.remove(bracketed);
    QString name;
    for (qsizetype i = 0; i < bare.size(); ++i) {
        // "&&" shows one ampersand.
        if (bare[i] == QLatin1Char('&') && i + 1 < bare.size()) {
            ++i;
        }
        name += bare[i];
    }
    name = name.trimmed();
    while (name.endsWith(QLatin1Char(':')) || name.endsWith(QChar(0xFF1A))) {
        name.chop(1);
        name = name.trimmed();
    }
    return name;
}

void NameBuddiesByTheirLabels(QWidget* window) {
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            label->buddy()->setAccessibleName(NameOfCaption(label->text()));
        }
    }
}

}  // namespace platform
