// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Banner.h"
#include "app/Formmain.h"

#include "MessageRecorder.h"
#include "about/AboutFixture.h"

#include <QApplication>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QMovie>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

QByteArray Resource(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kBannerLink = QStringLiteral("https://www.verdane.example/wavestitch/");

TEST(BannerResourceTest, TheAnimationIsLinkedInAndLoopsForever) {
    const QByteArray gif = Resource(QStringLiteral(":/Binary/ADFlash"));
    ASSERT_TRUE(gif.startsWith("GIF89a"));
    QBuffer buffer;
    buffer.setData(gif);
    QImageReader reader(&buffer);
    EXPECT_EQ(reader.size(), QSize(257, 65));
    EXPECT_GT(reader.imageCount(), 1);
    EXPECT_EQ(reader.loopCount(), -1);
    EXPECT_EQ(GifComment(gif), kBannerLink);
}

TEST(BannerResourceTest, TheGifCommentIsReadSafelyFromCutOrForeignData) {
    const QByteArray gif = Resource(QStringLiteral(":/Binary/ADFlash"));
    const qsizetype commentEnd = gif.indexOf(kBannerLink.toLatin1()) + kBannerLink.size() + 1;
    ASSERT_GT(commentEnd, kBannerLink.size());
    // Every cut of the file's start: the comment is found exactly when it is whole.
    for (qsizetype n = 0; n < commentEnd + 40; ++n) {
        EXPECT_EQ(GifComment(gif.left(n)), n >= commentEnd ? kBannerLink : QString()) << n;
    }
    // A one-pixel GIF without a comment, and data that is no GIF at all.
    const QByteArray plain =
        QByteArray::fromHex("4749463839610100010000000021f90401000000002c000000000100010000020144003b");
    EXPECT_EQ(GifComment(plain), QString());
    EXPECT_EQ(GifComment(QByteArray("<html></html>")), QString());
}

TEST(BannerResourceTest, ThePageNamesTheAnimationFileInBothPlaces) {
    QStringList lines;
    QString error;
    ASSERT_TRUE(ReadResourceLines(QStringLiteral("HTM"), QStringLiteral("ShowFlashHtml"), lines, error));
    EXPECT_EQ(lines.join(QLatin1Char('\n')).count(QLatin1String("iniflash.swf")), 2);
    EXPECT_FALSE(lines.join(QString()).contains(QLatin1Char('\r')));

    // A temporary folder with a blank and non-Latin letters must reach the page unharmed.
    const QString adFile = QString::fromUtf8("/tmp/Ben \xE6\xB7\xBB/_WavestitchAd.swf");
    const QString page = QString::fromUtf8(MakeBannerPage(lines, adFile));
    EXPECT_EQ(page.count(adFile), 2);
    EXPECT_FALSE(page.contains(QLatin1String("iniflash.swf")));
    EXPECT_EQ(page.count(QLatin1String("\r\n")), lines.size());
    EXPECT_EQ(page.count(QLatin1Char('\n')), lines.size());

    // The replacement is exact and case-sensitive, everywhere in the text.
    EXPECT_EQ(
        MakeBannerPage({QStringLiteral("a iniflash.swf b iniflash.swf"), QStringLiteral("IniFlash.swf")},
                       QStringLiteral("/t/x")),
        QByteArray("a /t/x b /t/x\r\nIniFlash.swf\r\n"));
}

TEST(BannerResourceTest, TheAnimationFileReplacesALinkWithoutFollowingIt) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/_WavestitchAd.swf");
    const QString victim = dir.path() + QStringLiteral("/victim");
    WriteFile(victim, "precious");
    ASSERT_TRUE(QFile::link(victim, path));
    QString error;
    ASSERT_TRUE(WriteResourceToFile(QStringLiteral("Binary"), QStringLiteral("ADFlash"), path, error))
        << error.toStdString();
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(ReadFile(path), Resource(QStringLiteral(":/Binary/ADFlash")));
}

TEST(BannerResourceTest, AMissingResourceIsNamedAndCreatesNoFile) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/out");
    QString error;
    EXPECT_FALSE(WriteResourceToFile(QStringLiteral("Binary"), QStringLiteral("Nothing"), path, error));
    EXPECT_EQ(error, QStringLiteral("Resource Nothing not found"));
    EXPECT_FALSE(QFile::exists(path));
    QStringList lines;
    EXPECT_FALSE(ReadResourceLines(QStringLiteral("HTM"), QStringLiteral("Nope"), lines, error));
    EXPECT_EQ(error, QStringLiteral("Resource Nope not found"));
}

using BannerTest = AboutFixture;

// Counts the mouse and context-menu events that reach the object it watches.
class EventProbe : public QObject {
public:
    int seen = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        const QEvent::Type type = e->type();
        seen += type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                type == QEvent::ContextMenu;
        return false;
    }
};

TEST_F(BannerTest, TheAdSwitchDecidesWhetherTheAnimationFileExists) {
    const QByteArray gif = Resource(QStringLiteral(":/Binary/ADFlash"));
    const struct {
        const char* settings;
        bool shown;
        bool moving;
    } cases[] = {
        {nullptr, true, true},
        {"", true, true},
        {"[General]\nAd=\n", true, true},
        {"[General]\nAd=1\n", true, true},
        {"[General]\nAd=0\n", false, false},
        // A still picture for those who ask for less motion.
        {"[General]\nAnimate=0\n", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings == nullptr ? "no settings file" : c.settings);
        QFile::remove(appDir_ + QStringLiteral("Wavestitch.ini"));
        if (c.settings != nullptr) {
            WriteSettings(c.settings);
        }
        MessageRecorder recorder;
        CreateForms();
        const TBannerPane& pane = *MainForm->CppWebBrowser1;
        EXPECT_EQ(QFile::exists(AdFilePath()), c.shown);
        if (c.shown) {
            EXPECT_EQ(MainForm->AdFile, AdFilePath());
            EXPECT_EQ(ReadFile(AdFilePath()), gif);
            EXPECT_EQ(pane.MovieFile(), AdFilePath());
            EXPECT_EQ(pane.PageText().count(AdFilePath()), 2);
            ASSERT_NE(pane.Movie(), nullptr);
            EXPECT_TRUE(pane.Movie()->isValid());
            EXPECT_EQ(pane.Movie()->state(), c.moving ? QMovie::Running : QMovie::NotRunning);
            if (!c.moving) {
                EXPECT_EQ(pane.Movie()->currentFrameNumber(), pane.Movie()->frameCount() - 1);
            }
            EXPECT_EQ(pane.Background(), QColor(0x99, 0xCC, 0xFF));
            EXPECT_EQ(pane.Link(), kBannerLink);
            // The page's border went with its completed load.
            EXPECT_EQ(pane.BodyBorder(), QStringLiteral("none"));
        } else {
            EXPECT_TRUE(MainForm->AdFile.isEmpty());
            EXPECT_TRUE(pane.PageText().isEmpty());
        }
        EXPECT_TRUE(recorder.messages.empty());
        DestroyForms();
        EXPECT_FALSE(QFile::exists(AdFilePath()));
    }
}

// The animation plays for its time and rests on its last frame; a click still opens the address.
TEST_F(BannerTest, TheAnimationStopsOnItsLastFrame) {
    EXPECT_LE(TBannerPane::kAnimationMs, 5000);
    CreateForms();
    TBannerPane pane;
    pane.SetAnimationTime(20);
    pane.Load(MainForm->CppWebBrowser1->PageText().toUtf8());
    ASSERT_NE(pane.Movie(), nullptr);
    EXPECT_EQ(pane.Movie()->state(), QMovie::Running);
    QElapsedTimer waited;
    waited.start();
    while (pane.Movie()->state() == QMovie::Running && waited.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    EXPECT_EQ(pane.Movie()->state(), QMovie::NotRunning);
    EXPECT_EQ(pane.Movie()->currentFrameNumber(), pane.Movie()->frameCount() - 1);
    pane.resize(257, 65);
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(10, 10), pane.mapToGlobal(QPointF(10, 10)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&pane, &click);
    EXPECT_EQ(opened_, QStringList{kBannerLink});
}

TEST_F(BannerTest, AnUnwritableAnimationFileIsReportedAndThePaneStaysEmpty) {
    // A folder in the file's place cannot be replaced by a file, even by root.
    ASSERT_TRUE(QDir().mkpath(AdFilePath()));
    WriteLanguage("English.ini", "[ToolBar]\nAdd=Add files\n");
    MessageRecorder recorder;
    CreateForms();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_TRUE(recorder.messages[0].text.startsWith(QStringLiteral("Cannot create file \"") + AdFilePath() +
                                                     QStringLiteral("\". ")));
    EXPECT_EQ(recorder.messages[0].flags, 0x10u);
    EXPECT_TRUE(MainForm->CppWebBrowser1->PageText().isEmpty());
    EXPECT_EQ(MainForm->CppWebBrowser1->Movie(), nullptr);
    // The program goes on: the window still takes its language and closes cleanly.
    MainForm->FormActivate();
    EXPECT_EQ(MainForm->ButtonAdd->text(), QStringLiteral("Add files"));
    DestroyForms();
    EXPECT_TRUE(QFileInfo(AdFilePath()).isDir());
}

TEST_F(BannerTest, EveryCompletedPageLosesItsBorderButOnlyFromThePane) {
    CreateForms();
    TBannerPane& pane = *MainForm->CppWebBrowser1;
    pane.SetBodyBorder(QStringLiteral("2px inset"));
    pane.Navigate(QStringLiteral("about:blank"));
    EXPECT_EQ(pane.BodyBorder(), QStringLiteral("none"));
    EXPECT_TRUE(pane.PageText().isEmpty());

    TBannerPane loose;
    EXPECT_EQ(loose.BodyBorder(), QLatin1String(TBannerPane::kDefaultBorder));
    QObject other;
    MainForm->CppWebBrowser1DocumentComplete(&other);
    MainForm->CppWebBrowser1DocumentComplete(nullptr);
    EXPECT_EQ(loose.BodyBorder(), QLatin1String(TBannerPane::kDefaultBorder));
    MainForm->CppWebBrowser1DocumentComplete(&loose);
    EXPECT_EQ(loose.BodyBorder(), QStringLiteral("none"));
}

TEST_F(BannerTest, AClickOpensTheAnimationsAddressAndARightClickNothing) {
    CreateForms();
    MainForm->show();
    QApplication::processEvents();
    TBannerPane& pane = *MainForm->CppWebBrowser1;
    const QPointF centre(pane.width() / 2.0, pane.height() / 2.0);
    const QPointF global = pane.mapToGlobal(centre);

    // Object filters run after the application's, so this sees only what the main window let through.
    EventProbe probe;
    pane.installEventFilter(&probe);
    QMouseEvent rightPress(QEvent::MouseButtonPress, centre, global, Qt::RightButton, Qt::RightButton,
                           Qt::NoModifier);
    QApplication::sendEvent(&pane, &rightPress);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, centre.toPoint(), global.toPoint());
    QApplication::sendEvent(&pane, &menu);
    EXPECT_EQ(probe.seen, 0);
    EXPECT_TRUE(opened_.isEmpty());

    QMouseEvent leftRelease(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
    QApplication::sendEvent(&pane, &leftRelease);
    EXPECT_EQ(probe.seen, 1);
    EXPECT_EQ(opened_, QStringList{kBannerLink});
    EXPECT_EQ(pane.cursor().shape(), Qt::PointingHandCursor);
    PressAsLink(&pane);
    EXPECT_EQ(opened_, (QStringList{kBannerLink, kBannerLink}));
}

}  // namespace
