// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Formabout.h"

#include "platform/Accessibility.h"
#include "platform/MessageBox.h"
#include "platform/ReadableLook.h"
#include "platform/ShellOpen.h"
#include "platform/TextScale.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>
#include <cmath>

TAboutForm* AboutForm = nullptr;

namespace {

// The version number and the link start here unless their caption reaches further.
constexpr int kValueLeft = 96;
// Space between a caption and its value, so the two never read as one.
constexpr int kValueGap = 8;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(platform::Scaled(QPoint(left, top)));
    return label;
}

QFrame* MakeBevel(QWidget* parent, const char* name, QFrame::Shape shape, const QRect& place) {
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(QLatin1String(name));
    bevel->setFrameShape(shape);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(platform::Scaled(place));
    return bevel;
}

// The product picture: two clips of a waveform joined by a stitch, on a rounded tile.
QPixmap ProductPicture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 64.0;
    p.setPen(QPen(QColor(0x14, 0x36, 0x5E), 2 * s));
    p.setBrush(QColor(0x99, 0xCC, 0xFF));
    p.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 10 * s, 10 * s);
    const QColor clips[] = {QColor(0x2E, 0x6F, 0xD0), QColor(0xE0, 0x7B, 0x39)};
    for (int clip = 0; clip < 2; ++clip) {
        QPainterPath wave;
        for (int i = 0; i <= 24; ++i) {
            const qreal x = (9 + clip * 24 + i) * s;
            const qreal y = (32 + 14 * std::sin(i * 0.785) * std::sin(i * 3.1416 / 24)) * s;
            i == 0 ? wave.moveTo(x, y) : wave.lineTo(x, y);
        }
        p.setPen(QPen(clips[clip], 3 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    p.setPen(QPen(QColor(0x8A, 0x4B, 0x9C), 2 * s, Qt::DotLine));
    p.drawLine(QPointF(33 * s, 10 * s), QPointF(33 * s, 54 * s));
    return pixmap;
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(platform::Scaled(QSize(337, 224)));
    setFont(platform::DesignFont(QStringLiteral("Tahoma"), 8));

    Bevel1 = MakeBevel(this, "Bevel1", QFrame::Box, QRect(8, 8, 321, 161));
    Bevel2 = MakeBevel(this, "Bevel2", QFrame::HLine, QRect(8, 180, 321, 2));

    // The title and the link keep fonts of their own whatever font the language file chooses.
    Label1 = MakeLabel(this, "Label1", QStringLiteral("Verdane Wavestitch"), 24, 24);
    QFont titleFont(QStringLiteral("Tahoma"));
    titleFont.setPixelSize(platform::Scaled(13));
    Label1->setFont(titleFont);
    QPalette titlePalette = Label1->palette();
    titlePalette.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00));
    Label1->setPalette(titlePalette);
    Label1->adjustSize();

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(platform::Scaled(QRect(240, 32, 64, 64)));
    Image1->setPixmap(ProductPicture(Image1->width()));

    Label2 = MakeLabel(this, "Label2", QStringLiteral("Version:"), 24, 54);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("2.0"), kValueLeft, 54);
    Label4 = MakeLabel(this, "Label4", QStringLiteral("Home page:"), 24, 73);

    Label5 = MakeLabel(this, "Label5", QStringLiteral("www.verdane.example"), kValueLeft, 73);
    QFont linkFont = platform::DesignFont(QStringLiteral("Tahoma"), 8);
    linkFont.setUnderline(true);
    Label5->setFont(linkFont);
    QPalette linkPalette = Label5->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
    Label5->setPalette(linkPalette);
    Label5->setCursor(Qt::PointingHandCursor);
    // Keyboard users reach the link with Tab, after OK, and open it with Enter or Space.
    Label5->setFocusPolicy(Qt::StrongFocus);
    Label5->installEventFilter(this);
    platform::SetAccessibleRole(Label5, QAccessible::Link);

    Label6 = MakeLabel(this, "Label6", QStringLiteral("Copyright"), 24, 104);
    Label7 = MakeLabel(this, "Label7", QStringLiteral("All right reserved."), 24, 131);
    LabelLicence = MakeLabel(this, "LabelLicence", QLatin1String(kEnglishLicence), 24, 150);

    ButtonOk = new QPushButton(QStringLiteral("OK"), this);
    ButtonOk->setObjectName(QStringLiteral("ButtonOk"));
    ButtonOk->setGeometry(platform::Scaled(QRect(120, 188, 75, 25)));
    ButtonOk->setDefault(true);
    connect(ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(ButtonOk, Label5);
    SizeLabelsToText();
    platform::SetFrameRoles(this);
}

void TAboutForm::SizeLabelsToText() {
    // A label keeps the size of its first showing unless it is sized again, and would cut a longer
    // text of another language.
    for (QLabel* label : {Label2, Label3, Label4, Label5}) {
        label->adjustSize();
    }
    const int valueLeft = platform::Scaled(kValueLeft);
    const int valueGap = platform::Scaled(kValueGap);
    Label3->move(std::max(valueLeft, Label2->x() + Label2->width() + valueGap), Label3->y());
    Label5->move(std::max(valueLeft, Label4->x() + Label4->width() + valueGap), Label5->y());
    // The copyright texts are rebuilt at every activation; their labels and the licence reach up to
    // the frame's right edge and take the height of the current font.
    for (QLabel* label : {Label6, Label7, LabelLicence}) {
        label->resize(platform::Scaled(297), label->sizeHint().height());
    }
}

void TAboutForm::FormActivate() {
    const QString year = QStringLiteral("%1").arg(Today().year(), 4, 10, QLatin1Char('0'));
    Label6->setText(CopyrightText + QLatin1String(kOwnerNotice) + year);
    Label7->setText(ReservedText);
}

void TAboutForm::Label5Click() {
    OpenHomePage(HomePage, NoBrowserText, MessageCaption);
}

bool TAboutForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QDialog::event(e);
}

void TAboutForm::showEvent(QShowEvent* e) {
    // Where no window manager hands out focus the dialog is never activated; it is still shown
    // with this year's labels.
    FormActivate();
    // Every showing starts on OK, so Enter closes the dialog and never opens the link by surprise.
    ButtonOk->setFocus();
    QDialog::showEvent(e);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* e) {
    if (watched != Label5) {
        return QDialog::eventFilter(watched, e);
    }
    if (e->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(e);
        if (mouse->button() == Qt::LeftButton && Label5->rect().contains(mouse->position().toPoint())) {
            Label5Click();
            return true;
        }
    } else if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            Label5Click();
            return true;
        }
    } else if (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut) {
        update(Label5->geometry().adjusted(-2, -2, 2, 2));
    }
    return QDialog::eventFilter(watched, e);
}

void TAboutForm::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    if (Label5->hasFocus()) {
        QPainter painter(this);
        painter.setPen(platform::FocusMarkColour(palette()));
        painter.drawRect(Label5->geometry().adjusted(-2, -1, 1, 0));
    }
}

void OpenHomePage(const QString& address, const QString& noBrowserText, const QString& caption) {
    if (!platform::ShellOpen(address)) {
        platform::MessageBox(noBrowserText + QLatin1Char('\n') + address, caption, platform::MB_ICONWARNING);
    }
}
