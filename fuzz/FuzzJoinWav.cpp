// SPDX-License-Identifier: GPL-3.0-or-later
// A join of one WAV row made of arbitrary bytes, written out as WAV: the chunk walk of the join,
// the sample conversion and the WAV output. The row carries the format its probe reported, or a
// CD format when the probe refused it (a file changed after it was added).
#include "FuzzSupport.h"
#include "audio/Waveinf.h"
#include "join/JoinHost.h"
#include "join/JoinJob.h"

#include <QFile>

#include <algorithm>

namespace {

class OneRow : public join::JoinRows {
public:
    explicit OneRow(join::JoinRow row) : row_(std::move(row)) {}
    int Count() const override { return 1; }
    join::JoinRow Row(int) const override { return row_; }

private:
    join::JoinRow row_;
};

class QuietHost : public join::JoinHost {
public:
    void SetStatusText(const QString&) override {}
    void SetJoinProgress(int percent) override { FUZZ_CHECK(percent >= 0 && percent <= 100); }
    void SetOutputProgress(int percent) override { FUZZ_CHECK(percent >= 0 && percent <= 100); }
    void ProcessMessages() override {}
    bool Terminated() const override { return false; }
    void SetJoinFailed() override { failed = true; }
    void Close() override { closed = true; }
    int MessageBox(const QString&, const QString&, unsigned) override { return platform::IDOK; }

    bool failed = false;
    bool closed = false;
};

std::uint32_t Le32(const QByteArray& bytes, int at) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SilenceMessages();
    const QString input = fuzz::WriteInput(QStringLiteral("input.wav"), data, size);
    join::JoinRow row{input, 44100, 2, 16};
    WaveHeaderInfo probe;
    if (ReadWaveHeader(input, probe)) {
        row.sampleRate = probe.sampleRate;
        row.channels = probe.channels;
        row.bits = probe.bitsPerSample;
    }
    const OneRow rows(row);
    const QString output = fuzz::TempFolder() + QStringLiteral("output.wav");
    QuietHost host;
    join::JoinJob job(host, rows, [&] {
        join::JoinOutput out;
        out.path = output;
        return out;
    });
    // As if a stereo 16-bit row of the same rate were in the list too, so narrower rows are converted.
    const join::TargetFormat target = join::TargetOf(rows);
    job.TempPcmFile = fuzz::TempFolder() + QStringLiteral("AudioTemp.pcm");
    job.TargetSampleRate = target.sampleRate;
    job.TargetChannels = std::max(target.channels, 2);
    job.TargetBits = 16;
    job.DoJoin();

    FUZZ_CHECK(host.closed);
    FUZZ_CHECK(!QFile::exists(job.TempPcmFile));
    if (!host.failed) {
        QFile written(output);
        FUZZ_CHECK(written.open(QIODevice::ReadOnly));
        const QByteArray header = written.read(44);
        FUZZ_CHECK(header.size() == 44);
        FUZZ_CHECK(Le32(header, 4) == written.size() - 8);
        FUZZ_CHECK(Le32(header, 40) == written.size() - 44);
    }
    QFile::remove(output);
    return 0;
}
