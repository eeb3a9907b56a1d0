// SPDX-License-Identifier: GPL-3.0-or-later
// The Join button: the output wizard, the target format of the list, the join job and the
// progress dialog, then the completion message.
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "encode/Formoutput.h"
#include "join/Formprocess.h"
#include "join/JoinJob.h"
#include "join/Jointhread.h"
#include "join/OutputMetadata.h"
#include "platform/MessageBox.h"
#include "platform/TempFolder.h"

#include <QPointer>
#include <QScopeGuard>

namespace {

// The job reads the list row by row while it runs, as the list stands at that moment.
class ListViewRows : public join::JoinRows {
public:
    explicit ListViewRows(const TMainForm& form) : form_(form) {}
    int Count() const override { return form_.RowCount(); }
    join::JoinRow Row(int index) const override {
        const AudioFileRow& row = *form_.Row(index);
        return {row.FullPath(), row.SampleRate(), row.Channels(), row.Bits()};
    }

private:
    const TMainForm& form_;
};

// The wizard keeps the user's choice after it has closed; the job reads it when its output stage begins.
join::JoinOutput OutputChoice(const TOutputForm& wizard) {
    join::JoinOutput output;
    switch (wizard.Format()) {
        case TOutputForm::OutputFormat::Mp3:
            output.kind = join::OutputKind::Mp3;
            break;
        case TOutputForm::OutputFormat::Wma:
            output.kind = join::OutputKind::Wma;
            break;
        case TOutputForm::OutputFormat::Wav:
            output.kind = join::OutputKind::Wav;
            break;
    }
    output.path = wizard.OutputPath();
    output.mp3Kbps = wizard.Mp3BitrateKbps();
    output.mp3Copyright = wizard.Mp3Copyright();
    output.mp3Crc = wizard.Mp3Crc();
    output.mp3Original = wizard.Mp3Original();
    output.mp3Private = wizard.Mp3Private();
    output.wmaBitrate = wizard.WmaBitrate();
    output.copyMp3 = wizard.Mp3CopyChosen();
    if (wizard.Metadata().cueSheet) {
        output.cuePath = wizard.CueSheetPath();
    }
    return output;
}

// An MP3 bitrate the encoder cannot keep at the target rate is told before the join starts rather
// than found later in the file.
void TellLoweredMp3Bitrate(const TMainForm& form, int sampleRate, const join::JoinOutput& output) {
    // A join without re-encoding keeps the rows' own bitrates.
    if (output.kind != join::OutputKind::Mp3 || output.copyMp3) {
        return;
    }
    const int encoded = join::EncodedMp3Kbps(sampleRate, output.mp3Kbps);
    if (encoded >= output.mp3Kbps) {
        return;
    }
    const QString text = form.LanguageText(
        QStringLiteral("Messages"), QStringLiteral("Mp3Bitrate"),
        QStringLiteral("At %1 Hz an MP3 file holds at most %2 kbps: the file will be encoded at %2 kbps "
                       "instead of %3 kbps."));
    platform::MessageBox(
        text.arg(QString::number(sampleRate), QString::number(encoded), QString::number(output.mp3Kbps)),
        form.LanguageText(QStringLiteral("Common"), QStringLiteral("Message"), QString()),
        platform::MB_ICONINFORMATION);
}

}  // namespace

void TMainForm::ButtonJoinClick() {
    if (joinRunning_ || RowCount() < 2) {
        return;
    }
    // From the wizard to the completion message nothing may start a second join or change the list.
    joinRunning_ = true;
    const auto done = qScopeGuard([this] { joinRunning_ = false; });
    auto rows = std::make_unique<ListViewRows>(*this);
    const QStringList paths = join::PathsOf(*rows);
    OutputForm->SetJoinRows(paths, CopyRefusal(*rows));
    if (OutputForm->exec() != QDialog::Accepted) {
        return;
    }
    const join::TargetFormat target = join::TargetOf(*rows);
    // The output is the one chosen now, whatever the wizard shows later. The inputs' tags are read
    // once, now; the job holds them as long as it lives.
    join::JoinOutput output = OutputChoice(*OutputForm);
    TellLoweredMp3Bitrate(*this, target.sampleRate, output);
    const auto metadata = std::make_shared<const join::OutputMetadata>(OutputForm->Metadata(), paths);
    output.metadata = metadata.get();
    // The job frees itself when its thread ends; the pointer then reads null, so a late request
    // touches nothing.
    QPointer<TJoinThread> job = new TJoinThread(std::make_unique<join::ProcessFormHost>(ProcessForm),
                                                std::move(rows), [output, metadata] { return output; });
    // Another copy of the program that ended meanwhile may have removed the empty temporary folder;
    // asking for it makes it again.
    if (const QString folder = platform::TempFolder(); folder != TempPath) {
        TempPath = folder;
        TempPcmFile = join::TempPcmPath(TempPath);
    }
    job->TempPcmFile = TempPcmFile;
    job->TargetSampleRate = target.sampleRate;
    job->TargetChannels = target.channels;
    job->TargetBits = target.bits;
    job->OutputFixed = true;
    // The thread ends only after the job's work has returned on this thread.
    ProcessForm->JobStarted();
    connect(job, &QThread::finished, ProcessForm, &TProcessForm::JobEnded);
    job->start();

    ProcessForm->JoinFailed = false;
    if (ProcessForm->exec() == TProcessForm::kCancelResult) {
        if (job) {
            job->Terminate();
        }
        return;
    }
    if (ProcessForm->JoinFailed) {
        return;
    }
    platform::MessageBox(LanguageText(QStringLiteral("Join"), QStringLiteral("Complete"), QString()),
                         LanguageText(QStringLiteral("Common"), QStringLiteral("Message"), QString()),
                         platform::MB_ICONINFORMATION | platform::MB_SYSTEMMODAL);
}
