// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Formprocess.h"

#include "platform/Accessibility.h"
#include "platform/FilePath.h"
#include "platform/TextScale.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <utility>

TProcessForm* ProcessForm = nullptr;

namespace {

constexpr int kBarStepMs = 25;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QProgressBar* MakeProgressBar(QWidget* parent, const char* name, int top) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setGeometry(platform::Scaled(QRect(72, top, 265, 17)));
    return bar;
}

}  // namespace

TProcessForm::TProcessForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ProcessForm"));
    setWindowTitle(QStringLiteral("Processing"));
    setFixedSize(platform::Scaled(QSize(359, 164)));
    setFont(platform::DesignFont(QStringLiteral("Tahoma"), 8));

    // Empty until the job names its first file: a join refused at once never shows a placeholder.
    Label1 = MakeLabel(this, "Label1", QString());
    // Long paths are cut at the label's fixed width rather than widening the dialog. A file name is
    // shown as it is named, never read as markup.
    Label1->setGeometry(platform::Scaled(QRect(16, 16, 321, 13)));
    Label1->setTextFormat(Qt::PlainText);
    Label2 = MakeLabel(this, "Label2", QStringLiteral("Joining:"));
    Label2->move(platform::Scaled(QPoint(16, 48)));
    ProgressBar1 = MakeProgressBar(this, "ProgressBar1", 48);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("Encoding:"));
    Label3->move(platform::Scaled(QPoint(16, 80)));
    ProgressBar2 = MakeProgressBar(this, "ProgressBar2", 80);
    Label2->setBuddy(ProgressBar1);
    Label3->setBuddy(ProgressBar2);
    platform::NameBuddiesByTheirLabels(this);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(platform::Scaled(QRect(8, 112, 343, 2)));

    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setGeometry(platform::Scaled(QRect(128, 128, 75, 25)));
    connect(ButtonCancel, &QPushButton::clicked, this, &TProcessForm::ButtonCancelClick);
    SizeLabelsToText();
    platform::SetFrameRoles(this);

    barStep_ = new QTimer(this);
    barStep_->setSingleShot(true);
    barStep_->setInterval(kBarStepMs);
    connect(barStep_, &QTimer::timeout, this, [this] {
        if (pendingJoin_ >= 0 || pendingOutput_ >= 0) {
            ShowPendingProgress();
            barStep_->start();
        }
    });
}

void TProcessForm::SetProgress(QProgressBar* bar, int percent) {
    (bar == ProgressBar1 ? pendingJoin_ : pendingOutput_) = percent;
    // The first change after a quiet while shows at once.
    if (!barStep_->isActive()) {
        ShowPendingProgress();
        barStep_->start();
    }
}

void TProcessForm::ShowPendingProgress() {
    if (pendingJoin_ >= 0) {
        ProgressBar1->setValue(std::exchange(pendingJoin_, -1));
    }
    if (pendingOutput_ >= 0) {
        ProgressBar2->setValue(std::exchange(pendingOutput_, -1));
    }
}

void TProcessForm::SizeLabelsToText() {
    // A label keeps the size of its first showing unless it is sized again, and would cut a longer
    // text of another language.
    Label2->adjustSize();
    Label3->adjustSize();
    // The path's line is as tall as the font needs, never less than designed.
    Label1->resize(Label1->width(), std::max(platform::Scaled(13), Label1->fontMetrics().height()));
}

void TProcessForm::JobStarted() {
    ++runningJobs_;
}

void TProcessForm::JobEnded() {
    runningJobs_ = std::max(runningJobs_ - 1, 0);
    if (!JobRunning() && terminateRequested_ && isVisible()) {
        done(kCancelResult);
    }
}

void TProcessForm::ButtonCancelClick() {
    RequestTerminate();
    if (JobRunning()) {
        // Pressed once is enough; the job sees the request at its next check.
        ButtonCancel->setEnabled(false);
        return;
    }
    done(kCancelResult);
}

void TProcessForm::reject() {
    ButtonCancelClick();
}

void TProcessForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        terminateRequested_ = false;
        ButtonCancel->setEnabled(true);
        // The last join's path would name the wrong file until the new job names its own.
        Label1->clear();
    }
    QDialog::showEvent(event);
}

namespace join {

void ProcessFormHost::SetStatusText(const QString& text) {
    if (form_) {
        form_->Label1->setText(platform::ShownName(text));
    }
}

void ProcessFormHost::SetJoinProgress(int percent) {
    if (form_) {
        form_->SetProgress(form_->ProgressBar1, percent);
    }
}

void ProcessFormHost::SetOutputProgress(int percent) {
    if (form_) {
        form_->SetProgress(form_->ProgressBar2, percent);
    }
}

void ProcessFormHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool ProcessFormHost::Terminated() const {
    return !form_ || form_->TerminateRequested();
}

void ProcessFormHost::SetJoinFailed() {
    if (form_) {
        form_->JoinFailed = true;
    }
}

void ProcessFormHost::Close() {
    if (form_) {
        form_->ShowPendingProgress();
    }
    if (form_ && !form_->TerminateRequested()) {
        form_->done(TProcessForm::kCloseResult);
    }
}

}  // namespace join
