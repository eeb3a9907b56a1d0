// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/Decoder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Test inputs are made on demand with sox, lame and ffmpeg in one temporary folder per test
// process; a file already made is reused.
namespace testmedia {

// The temporary folder the process started with: tests that point TMPDIR at a folder of their own
// must not take the shared inputs away with it.
inline const QString kStartTempPath = QDir::tempPath();

inline QString Dir() {
    static QTemporaryDir dir(kStartTempPath + QStringLiteral("/wavestitch-media-XXXXXX"));
    return dir.path() + '/';
}

// Runs a tool and returns its standard output; fails the test when the tool fails.
inline QByteArray RunTool(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(-1);
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_TRUE(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        << program.toStdString() << ": " << process.readAllStandardError().toStdString();
    return out;
}

// A tone of seconds at rate with chans channels (each channel its own pitch), as 16-bit WAV.
inline QString Tone(int rate, int chans, double seconds) {
    const QString path = Dir() + QString("tone_%1_%2_%3.wav").arg(rate).arg(chans).arg(seconds);
    if (!QFileInfo::exists(path)) {
        QStringList args{"-n", "-r",    QString::number(rate),   "-c", QString::number(chans), "-b", "16",
                         path, "synth", QString::number(seconds)};
        for (int c = 0; c < chans; ++c) {
            args << "sine" << QString::number(330 + 110 * c);
        }
        args << "gain"
             << "-6";
        RunTool("sox", args);
    }
    return path;
}

inline QString Lame(const QString& name, const QString& wav, const QStringList& options) {
    const QString path = Dir() + name;
    if (!QFileInfo::exists(path)) {
        RunTool("lame", QStringList{"--quiet"} + options + QStringList{wav, path});
    }
    return path;
}

// A sine tone encoded by ffmpeg with codec into the container format, whatever the name says.
inline QString FfmpegTone(const QString& name, int rate, int chans, double seconds, const QString& codec,
                          const QString& format) {
    const QString path = Dir() + name;
    if (!QFileInfo::exists(path)) {
        RunTool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                           QString("sine=f=440:d=%1:sample_rate=%2").arg(seconds).arg(rate), "-ac",
                           QString::number(chans), "-c:a", codec, "-f", format, "-y", path});
    }
    return path;
}

// An ASF file made by ffmpeg from a sine tone; codec wmav2 unless told otherwise.
inline QString Asf(const QString& name, int rate, int chans, double seconds, const QString& codec = "wmav2") {
    return FfmpegTone(name, rate, chans, seconds, codec, "asf");
}

inline QString WriteFile(const QString& name, const QByteArray& data) {
    const QString path = Dir() + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// Everything a stream yields, read the way the join reads it, checking on each read that the count
// is whole frames within the request and that the position follows the bytes handed out.
struct Decoded {
    audio::StreamInfoRecord info;
    std::uint64_t lengthAtOpen = 0;
    std::uint64_t lengthAtEnd = 0;
    QByteArray pcm;
    std::uint64_t Frames() const { return info.chans ? pcm.size() / (info.chans * 2) : 0; }
};

inline Decoded ReadAll(audio::StreamHandle handle, std::uint32_t chunk = 20480) {
    Decoded d;
    if (!audio::GetStreamInfo(handle, &d.info) || d.info.chans == 0) {
        ADD_FAILURE() << "no stream";
        return d;
    }
    d.lengthAtOpen = audio::GetStreamLength(handle, audio::POS_BYTE);
    std::vector<char> buffer(chunk);
    const std::uint32_t frameBytes = d.info.chans * 2;
    // A stream that never ends would be a fault; the bound turns it into a failure instead of a hang.
    for (int reads = 0; audio::IsStreamActive(handle); ++reads) {
        if (reads > 1'000'000) {
            ADD_FAILURE() << "stream never ends";
            break;
        }
        const std::uint32_t n = audio::ReadStreamData(handle, buffer.data(), chunk);
        EXPECT_LE(n, chunk);
        EXPECT_EQ(n % frameBytes, 0u);
        d.pcm.append(buffer.data(), n);
        EXPECT_EQ(audio::GetStreamPosition(handle, audio::POS_BYTE),
                  static_cast<std::uint64_t>(d.pcm.size()));
    }
    d.lengthAtEnd = audio::GetStreamLength(handle, audio::POS_BYTE);
    return d;
}

inline Decoded OpenAndReadAll(const QString& path, bool wma, std::uint32_t chunk = 20480) {
    const audio::StreamHandle h = wma ? audio::OpenWmaFileStream(false, path, 0, 0, audio::STREAM_DECODE)
                                      : audio::OpenFileStream(false, path, 0, 0, audio::STREAM_DECODE);
    EXPECT_NE(h, 0u) << path.toStdString();
    Decoded d = ReadAll(h, chunk);
    audio::FreeStream(h);
    return d;
}

}  // namespace testmedia
