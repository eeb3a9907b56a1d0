// SPDX-License-Identifier: GPL-3.0-or-later
#include "join/Mp3Copy.h"

#include "RecordingHost.h"
#include "audio/TestMedia.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {

// The copying join speaks to its host as the join job does: progress per part, a stop request seen
// between blocks, a refused part named once and marked as a failure.
TEST(Mp3CopyTest, TellsItsHostWhatTheJoinJobTellsIt) {
    const QString part = testmedia::Lame("copy_host.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    const QString other = testmedia::Lame("copy_host_22k.mp3", testmedia::Tone(22050, 2, 1.0), {"-b", "64"});
    const join::OutputMetadata none({}, {});
    const struct {
        QStringList inputs;
        int terminateAfter;
        join::Mp3Copy::Result result;
    } cases[] = {
        {{part, part}, -1, join::Mp3Copy::Result::Joined},
        {{part, part}, 0, join::Mp3Copy::Result::Stopped},
        {{part, other}, -1, join::Mp3Copy::Result::Refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.result));
        QTemporaryFile output;
        ASSERT_TRUE(output.open());
        RecordingHost host;
        host.terminateAfter = c.terminateAfter;
        join::Mp3Copy copy(host, c.inputs);
        ASSERT_EQ(copy.WaitForScan(true), join::Mp3Copy::Result::Joined);
        join::CopySink sink;
        sink.fd = output.handle();
        sink.seekable = sink.early = true;
        EXPECT_EQ(copy.Write(sink, output.fileName(), none), c.result);
        EXPECT_EQ(host.joinFailed, c.result == join::Mp3Copy::Result::Refused);
        ASSERT_EQ(host.messages.size(), c.result == join::Mp3Copy::Result::Refused ? 1u : 0u);
        if (c.result == join::Mp3Copy::Result::Refused) {
            EXPECT_TRUE(host.messages[0].text.startsWith(other + ": MPEG-2 Layer III, 22050 Hz"));
        }
        // The part being copied is shown, with its progress, before any stop is seen.
        EXPECT_EQ(host.statusText, part);
        EXPECT_FALSE(host.joinProgress.empty());
    }
}

}  // namespace
