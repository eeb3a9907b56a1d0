// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AudioFileRow.h"
#include "app/Formmain.h"
#include "app/RowTexts.h"

#include "MessageRecorder.h"
#include "WavBuilder.h"
#include "app/MainWindowFixture.h"
#include "audio/TestMedia.h"
#include "platform/FileFilter.h"
#include "platform/FilePath.h"
#include "platform/GuiHandlers.h"
#include "platform/ShellOpen.h"

#include <QApplication>
#include <QCompleter>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

namespace {

const QByteArray kTestLanguage = R"([ListView]
Bits=bits
Mono=Mono
Stereo=Stereo
[OpenDialog]
NotPCM=Not a PCM WAV file.
NotMP3Info=Cannot read this MP3 file.
NotWMAInfo=Cannot read this WMA file.
NotSupport=Not supported.
[StatusBar]
Files=file(s)
Time=Total:
[Common]
Message=Message
)";

const QByteArray kGermanWords = "[ListView]\nBits=Bit\nMono=Mono\nStereo=Stereo (de)\n";

class FileListTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        WriteLanguage("English.ini", kTestLanguage);
        WriteLanguage("German.ini", kGermanWords);
        CreateForms();
        MainForm->FormActivate();
        media_ = dir_.path() + QStringLiteral("/media/");
        QDir().mkpath(media_);
    }

    // A file of the test's own in its media folder.
    QString Media(const QString& name, const QByteArray& bytes) {
        const QString path = media_ + name;
        WriteFile(path, bytes);
        return path;
    }
    QString Copy(const QString& from, const QString& name) {
        const QString path = media_ + name;
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(from, path));
        return path;
    }
    // One second of 8-bit mono at 8000 Hz.
    QString Wav(const QString& name) {
        return Media(name, WavBuilder().Format(1, 8000, 8).Data(QByteArray(8000, '\x80')).Bytes());
    }

    QStringList Captions() const {
        QStringList captions;
        for (int i = 0; i < MainForm->RowCount(); ++i) {
            captions << MainForm->Row(i)->Caption();
        }
        return captions;
    }
    void ExpectIconsPaired() const {
        ASSERT_EQ(MainForm->ImageList1.size(), MainForm->RowCount());
        for (int i = 0; i < MainForm->RowCount(); ++i) {
            EXPECT_EQ(MainForm->ImageIndex(i), i);
            EXPECT_EQ(MainForm->Row(i)->icon(0).cacheKey(), MainForm->ImageList1[i].cacheKey());
        }
    }
    void Add(QStringList paths) { MainForm->AddFiles(paths); }

    QString media_;
};

TEST_F(FileListTest, RowsHoldTheShownTextsAndTheNumbersBehindThem) {
    const QString wav = Wav("A.wav");
    const QString mp3 =
        Copy(testmedia::Lame("one_second.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"}), "b.mp3");
    const QString wma = Copy(testmedia::Asf("two_seconds.wma", 22050, 1, 2.0), "c.wma");
    MessageRecorder recorder;
    MainForm->ExecuteOpenDialog = [&](QStringList& paths) {
        paths = {wma, mp3, wav};
        return true;
    };
    MainForm->ButtonAddClick();
    EXPECT_TRUE(recorder.messages.empty());
    ASSERT_EQ(Captions(), (QStringList{"A.wav", "b.mp3", "c.wma"}));

    const AudioFileRowTexts wavRow = MainForm->Row(0)->Texts();
    EXPECT_EQ(wavRow.subItems, (std::array<QString, 10>{"8000 Hz", "Mono", "8 bits", "7 KB", "00:01", media_,
                                                        "8000", "1", "8", "1"}));
    EXPECT_EQ(MainForm->Row(0)->FullPath(), wav);

    const AudioFileRow& mp3Row = *MainForm->Row(1);
    EXPECT_EQ(mp3Row.SampleRateText(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(mp3Row.ChannelsText(), QStringLiteral("Stereo"));
    EXPECT_EQ(mp3Row.BitsText(), QStringLiteral("16 bits"));
    EXPECT_EQ(mp3Row.SizeText(), SizeText(static_cast<std::uint64_t>(QFileInfo(mp3).size())));
    EXPECT_EQ(mp3Row.DurationText(), QStringLiteral("00:01"));
    EXPECT_EQ(mp3Row.Bits(), 16);
    EXPECT_EQ(mp3Row.Seconds(), 1u);

    const AudioFileRow& wmaRow = *MainForm->Row(2);
    EXPECT_EQ(wmaRow.SampleRate(), 22050);
    EXPECT_EQ(wmaRow.Channels(), 1);
    EXPECT_EQ(wmaRow.ChannelsText(), QStringLiteral("Mono"));
    EXPECT_EQ(wmaRow.Seconds(), 2u);

    ExpectIconsPaired();
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), QStringLiteral("3 file(s)"));
    EXPECT_EQ(MainForm->StatusPanel(1)->text(), QStringLiteral("Total: 00:00:04"));

    // A later Add appends after the rows already there, whatever its sort order.
    Add({Copy(wav, "a.wav")});
    EXPECT_EQ(Captions(), (QStringList{"A.wav", "b.mp3", "c.wma", "a.wav"}));
}

TEST_F(FileListTest, TheSameFileMayBeAddedAgainAndNamesInAnyScriptWork) {
    const QString name = QString::fromUtf8("\xE9\x9F\xB3\xE4\xB9\x90 \xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA.wav");
    const QString wav = Wav(name);
    Add({wav, wav});
    Add({wav});
    ASSERT_EQ(MainForm->RowCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(MainForm->Row(i)->Caption(), name);
        EXPECT_EQ(MainForm->Row(i)->Texts().subItems, MainForm->Row(0)->Texts().subItems);
    }
    ExpectIconsPaired();
}

TEST_F(FileListTest, ExtensionsInAnyCaseAndRejectionsWithTheirMessages) {
    const QString upper = Wav("X.WAV");
    const QString mixed =
        Copy(testmedia::Lame("one_second.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"}), "x.Mp3");
    const QString noExtension = Wav("track");
    const QString text = Media("notes.txt", "hello");
    const QString deep =
        Media("24bit.wav", WavBuilder().Format(2, 44100, 24).Data(QByteArray(600, '\0')).Bytes());
    const QString deepFloat =
        Media("float.wav", WavBuilder().Format(2, 44100, 32, 3).Data(QByteArray(800, '\0')).Bytes());
    const QString garbage = Media("garbage.wma", QByteArray(5000, 'G'));
    const QString folder = media_ + QStringLiteral("folder.mp3");
    QDir().mkpath(folder);

    MessageRecorder recorder;
    Add({upper, mixed, noExtension, text, deep, deepFloat, garbage, folder});
    EXPECT_EQ(Captions(), (QStringList{"x.Mp3", "X.WAV"}));

    QStringList shown;
    for (const auto& m : recorder.messages) {
        shown << m.text;
        if (m.caption == QStringLiteral("Message")) {
            EXPECT_EQ(m.flags, 0x1040u);
        }
    }
    EXPECT_EQ(shown, (QStringList{
                         "Not PCM formats!",
                         deep + "\nNot a PCM WAV file.",
                         "This is not a valid Wave file",
                         deepFloat + "\nNot a PCM WAV file.",
                         folder + "\nCannot read this MP3 file.",
                         garbage + "\nCannot read this WMA file.",
                         text + "\nNot supported.",
                         noExtension + "\nNot supported.",
                     }));
}

TEST_F(FileListTest, ADropAddsSortedShowsOneMessagePerRejectionAndRefreshesTheStatusBar) {
    const QString z = Wav("z.wav");
    const QString m = Wav("m.wav");
    const QString bad = Media("cover.jpg", "jpeg");
    MessageRecorder recorder;
    MainForm->WMDropFiles({z, bad, m});
    EXPECT_EQ(Captions(), (QStringList{"m.wav", "z.wav"}));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, bad + "\nNot supported.");
    EXPECT_EQ(recorder.messages[0].caption, QStringLiteral("Message"));
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), QStringLiteral("2 file(s)"));
    EXPECT_EQ(MainForm->StatusPanel(1)->text(), QStringLiteral("Total: 00:00:02"));

    // A dropped name that is not UTF-8 (Latin-1 "caf\xE9.wav") reaches the row byte for byte.
    const QByteArray latin1 = QFile::encodeName(media_) + "caf\xE9.wav";
    ASSERT_EQ(::rename(QFile::encodeName(Wav("cafe.wav")).constData(), latin1.constData()), 0);
    QMimeData mime;
    mime.setUrls({QUrl(QString::fromLatin1("file://" + latin1.toPercentEncoding("/")))});
    // Dropped on the list, which takes drops of its own rows, the files still go to the window.
    QWidget* viewport = MainForm->ListView1->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    ASSERT_EQ(MainForm->RowCount(), 3) << recorder.messages.back().text.toStdString();
    EXPECT_EQ(platform::EncodeName(MainForm->Row(2)->FullPath()), latin1);
    EXPECT_EQ(MainForm->Row(2)->SampleRate(), MainForm->Row(0)->SampleRate());
    // Qt's own clean-up cannot name the file.
    ::unlink(latin1.constData());

    // A dropped folder adds the audio files in it and its subfolders by name, numbers by value, and
    // refuses what it cannot read in one message; other files it passes over.
    QDir().mkpath(media_ + "book/cd 1");
    Wav("book/cd 1/Part 10.wav");
    Wav("book/cd 1/Part 2.wav");
    Media("book/notes.txt", "hello");
    const QString deep =
        Media("book/deep.wav", WavBuilder().Format(2, 44100, 24).Data(QByteArray(600, '\0')).Bytes());
    recorder.messages.clear();
    MainForm->WMDropFiles({media_ + "book"});
    EXPECT_EQ(Captions().mid(3), (QStringList{"Part 2.wav", "Part 10.wav"}));
    ASSERT_EQ(recorder.messages.size(), 2u);  // the WAV reader's own word, then the one message
    EXPECT_EQ(recorder.messages[1].text, deep + "\nNot a PCM WAV file.");
}

TEST_F(FileListTest, RemoveClearUpAndDownKeepEveryRowWithItsIcon) {
    const QString mp3 = testmedia::Lame("one_second.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    Add({Wav("1.wav"), Copy(mp3, "2.mp3"), Wav("3.wav"), Copy(mp3, "4.mp3"), Wav("5.wav")});
    ASSERT_EQ(Captions(), (QStringList{"1.wav", "2.mp3", "3.wav", "4.mp3", "5.wav"}));
    const qint64 wavIcon = MainForm->ImageList1[0].cacheKey();
    const qint64 mp3Icon = MainForm->ImageList1[1].cacheKey();
    ASSERT_NE(wavIcon, mp3Icon);
    const auto expectTypeIcons = [&] {
        ExpectIconsPaired();
        for (int i = 0; i < MainForm->RowCount(); ++i) {
            const bool isWav = MainForm->Row(i)->Caption().endsWith(QLatin1String(".wav"));
            EXPECT_EQ(MainForm->Row(i)->icon(0).cacheKey(), isWav ? wavIcon : mp3Icon) << i;
        }
    };
    QTreeWidget& list = *MainForm->ListView1;
    const auto select = [&](std::initializer_list<int> rows) {
        list.clearSelection();
        for (const int r : rows) {
            list.topLevelItem(r)->setSelected(true);
        }
    };

    // Up and Down do nothing at the ends or with other than one row selected.
    select({0});
    MainForm->ButtonUpClick();
    select({4});
    MainForm->ButtonDownClick();
    select({1, 2});
    MainForm->ButtonUpClick();
    MainForm->ButtonDownClick();
    select({});
    MainForm->ButtonDownClick();
    EXPECT_EQ(Captions(), (QStringList{"1.wav", "2.mp3", "3.wav", "4.mp3", "5.wav"}));

    MainForm->StatusPanel(0)->setText(QStringLiteral("untouched"));
    const AudioFileRowTexts moved = MainForm->Row(1)->Texts();
    select({1});
    MainForm->ButtonDownClick();
    EXPECT_EQ(Captions(), (QStringList{"1.wav", "3.wav", "2.mp3", "4.mp3", "5.wav"}));
    EXPECT_EQ(MainForm->Row(2)->Texts().subItems, moved.subItems);
    EXPECT_TRUE(MainForm->Row(2)->isSelected());
    EXPECT_EQ(list.currentItem(), MainForm->Row(2));
    EXPECT_EQ(list.selectedItems().size(), 1);
    MainForm->ButtonUpClick();
    MainForm->ButtonUpClick();
    EXPECT_EQ(Captions(), (QStringList{"2.mp3", "1.wav", "3.wav", "4.mp3", "5.wav"}));
    // Moving changes no totals, so the status bar is left alone.
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), QStringLiteral("untouched"));
    expectTypeIcons();

    // Delete on the list removes as the Remove button does.
    select({0, 3});
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&list, &del);
    EXPECT_EQ(Captions(), (QStringList{"1.wav", "3.wav", "5.wav"}));
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), QStringLiteral("3 file(s)"));
    expectTypeIcons();
    // The row now in the first removed place is selected and current, for the next Delete.
    EXPECT_EQ(list.selectedItems(), QList<QTreeWidgetItem*>{MainForm->Row(0)});
    EXPECT_EQ(list.currentItem(), MainForm->Row(0));
    select({2});
    MainForm->ButtonUpClick();
    EXPECT_EQ(Captions(), (QStringList{"1.wav", "5.wav", "3.wav"}));
    expectTypeIcons();

    // Remove with nothing selected still refreshes the totals.
    select({});
    MainForm->StatusPanel(1)->clear();
    MainForm->ButtonRemoveClick();
    EXPECT_EQ(MainForm->RowCount(), 3);
    EXPECT_EQ(MainForm->StatusPanel(1)->text(), QStringLiteral("Total: 00:00:03"));
    // Without a row below, the one above takes the selection.
    select({2});
    MainForm->ButtonRemoveClick();
    EXPECT_EQ(list.selectedItems(), QList<QTreeWidgetItem*>{MainForm->Row(1)});

    MainForm->ButtonClearClick();
    EXPECT_EQ(MainForm->RowCount(), 0);
    EXPECT_TRUE(MainForm->ImageList1.isEmpty());
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), QStringLiteral("0 file(s)"));
    EXPECT_EQ(MainForm->StatusPanel(1)->text(), QStringLiteral("Total: 00:00:00"));
}

// A file named <b>live</b>.flac is named as spelled, not in bold: Qt guesses rich text.
// Sort by name puts an audiobook's parts in the order of their numbers; Undo takes back the sort,
// moves, a Clear and an Add, one at a time, every row with its icon. Ctrl+Up moves as Up does, a drag
// moves the selected rows together. A language file without the menu's keys shows English.
TEST_F(FileListTest, SortByNameAndUndoKeepEveryRowWithItsIcon) {
    const QString mp3 = testmedia::Lame("one_second.mp3", testmedia::Tone(44100, 2, 1.0), {"-b", "128"});
    Add({Wav("Part 1.wav"), Wav("part 10.wav"), Copy(mp3, "Part 2.mp3")});
    const QStringList added{"Part 1.wav", "part 10.wav", "Part 2.mp3"};
    const QStringList natural{"Part 1.wav", "Part 2.mp3", "part 10.wav"};
    ASSERT_EQ(Captions(), added);
    EXPECT_EQ(MainForm->ActionSortByName->text(), "&Sort by name");
    QTreeWidget& list = *MainForm->ListView1;
    const auto selectedCaptions = [&] {
        QStringList names;
        for (const QTreeWidgetItem* row : list.selectedItems()) {
            names << row->text(0);
        }
        names.sort();
        return names;
    };
    const QStringList selected{"Part 1.wav", "part 10.wav"};
    MainForm->Row(0)->setSelected(true);
    MainForm->Row(1)->setSelected(true);

    MainForm->ActionSortByName->trigger();
    EXPECT_EQ(Captions(), natural);
    ExpectIconsPaired();
    // The selected rows stay selected where they went, apart now.
    EXPECT_EQ(selectedCaptions(), selected);
    EXPECT_TRUE(MainForm->Row(2)->isSelected());
    EXPECT_EQ(MainForm->Row(1)->icon(0).cacheKey(), MainForm->ImageList1[1].cacheKey());
    list.clearSelection();
    MainForm->Row(2)->setSelected(true);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::ControlModifier);
    QApplication::sendEvent(&list, &up);
    // The move happens to restore Add's order.
    EXPECT_EQ(Captions(), added);
    EXPECT_EQ(list.currentItem(), MainForm->Row(1));
    // Dragged, the selected rows go together to where the drop is, in their order.
    MainForm->Row(0)->setSelected(true);
    MainForm->MoveSelectedRowsTo(3);
    EXPECT_EQ(Captions(), (QStringList{"Part 2.mp3", "Part 1.wav", "part 10.wav"}));
    ExpectIconsPaired();
    MainForm->ButtonClearClick();

    int undone = 0;
    for (const QStringList& before :
         {(QStringList{"Part 2.mp3", "Part 1.wav", "part 10.wav"}), added, natural, added, QStringList()}) {
        EXPECT_TRUE(MainForm->UndoListChange());
        EXPECT_EQ(Captions(), before);
        ExpectIconsPaired();
        // The sort taken back, its selection comes back with it.
        if (++undone == 4) {
            EXPECT_EQ(selectedCaptions(), selected);
        }
    }
    EXPECT_EQ(MainForm->StatusPanel(0)->text(), QStringLiteral("0 file(s)"));
    EXPECT_FALSE(MainForm->UndoListChange());
}

// Thousands of files: the window handles its events while they are probed, and a drop meanwhile is
// refused rather than mixed into the Add's rows. Removing rows from the long list leaves the view
// where it was.
TEST_F(FileListTest, ALongListHandlesEventsWhileAddedAndStaysInPlaceWhenRowsGo) {
    const QString wav = Wav("1.wav");
    const QString other = Wav("2.wav");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(other)});
    bool handled = false;
    QTimer::singleShot(0, MainForm, [&] {
        handled = true;
        EXPECT_FALSE(MainForm->CanDropFiles(&mime));
        MainForm->WMDropFiles({other});
    });
    constexpr int kRows = 20000;
    Add(QStringList(kRows, wav));
    EXPECT_TRUE(handled);
    EXPECT_EQ(MainForm->RowCount(), kRows);
    EXPECT_EQ(MainForm->ImageIndex(kRows - 1), kRows - 1);
    EXPECT_TRUE(MainForm->CanDropFiles(&mime));

    QTreeWidget& list = *MainForm->ListView1;
    list.scrollToItem(MainForm->Row(kRows / 2), QAbstractItemView::PositionAtTop);
    const int scrolled = list.verticalScrollBar()->value();
    MainForm->Row(kRows / 2 + 2)->setSelected(true);
    MainForm->Row(kRows / 2 + 4)->setSelected(true);
    MainForm->ButtonRemoveClick();
    QApplication::processEvents();
    EXPECT_EQ(MainForm->RowCount(), kRows - 2);
    EXPECT_EQ(list.verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(list.currentItem(), MainForm->Row(kRows / 2 + 2));
}

TEST_F(FileListTest, MessageBoxesShowTheirTextAsPlainText) {
    const auto previousBox = platform::SetMessageBoxHandler({});
    const auto previousOpen = platform::SetShellOpenHandler({});
    platform::InstallGuiHandlers();
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, MainForm, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        format = box->textFormat();
        box->close();
    });
    Add({Media(QStringLiteral("<b>live</b>.flac"), "x")});
    platform::SetMessageBoxHandler(previousBox);
    platform::SetShellOpenHandler(previousOpen);
    EXPECT_EQ(format, Qt::PlainText);
}

// Enter on a typed name accepts the dialog while its completions show; they go with the dialog, also
// when a folder listed late would show them again, and the list has the focus.
TEST_F(FileListTest, TheAddDialogsCompletionsCloseWithIt) {
    QFileDialog& dialog = *MainForm->OpenDialog1;
    const QString wav = Wav("1.wav");
    QPointer<QWidget> popup;
    QTimer::singleShot(0, &dialog, [&] {
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->setFocus();
        name->setText(wav);
        popup = name->completer()->popup();
        popup->show();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(popup, &enter);
    });
    QStringList paths;
    ASSERT_TRUE(MainForm->ExecuteOpenDialog(paths));
    ASSERT_FALSE(popup.isNull());
    EXPECT_FALSE(popup->isVisible());
    // The keyboard goes back to the list, not to a window that is gone.
    EXPECT_EQ(MainForm->focusWidget(), MainForm->ListView1);
    popup->show();
    QApplication::processEvents();
    EXPECT_FALSE(popup->isVisible());
}

// Once one typed name is in its list, the open dialog returns only the listed ones.
TEST(TypedFilesTest, NamesTheDialogLeftOutFollowItsOwn) {
    const QString home = QDir::homePath();
    const struct {
        QStringList chosen;
        const char* typed;
        QStringList expected;
    } cases[] = {
        {{"/m/a.wav"}, R"("a.wav" "x.flac")", {"/m/a.wav", "/m/x.flac"}},
        {{"/m/my song.wav"}, "my song.wav", {"/m/my song.wav"}},
        {{"/m/a.wav"}, R"("a.wav" "/n/c.wma" "../d.mp3" "")", {"/m/a.wav", "/n/c.wma", "/d.mp3"}},
        {{}, "~/e.wav", {home + "/e.wav"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithTypedFiles(c.chosen, QString::fromUtf8(c.typed), QStringLiteral("/m")), c.expected)
            << c.typed;
    }
}

TEST_F(FileListTest, ALanguageSwitchRewritesOnlyTheChannelAndBitsCells) {
    Add({Wav("mono.wav"),
         Media("six.wav", WavBuilder().Format(6, 8000, 16).Data(QByteArray(96000, '\0')).Bytes())});
    ASSERT_EQ(MainForm->RowCount(), 2);
    const AudioFileRowTexts before = MainForm->Row(1)->Texts();
    EXPECT_EQ(before.subItems[1], QStringLiteral("Stereo"));
    // Undo's copy of the list shares each row's texts with the row, until they change.
    MainForm->ButtonClearClick();
    ASSERT_TRUE(MainForm->UndoListChange());

    WriteSettings("[General]\nLanguage=German.ini\n");
    MainForm->FormActivate();
    EXPECT_EQ(MainForm->Row(0)->ChannelsText(), QStringLiteral("Mono"));
    EXPECT_EQ(MainForm->Row(0)->BitsText(), QStringLiteral("8 Bit"));
    const AudioFileRowTexts after = MainForm->Row(1)->Texts();
    EXPECT_EQ(after.subItems[1], QStringLiteral("Stereo (de)"));
    EXPECT_EQ(after.subItems[2], QStringLiteral("16 Bit"));
    for (const int unchanged : {0, 3, 4, 5, 6, 7, 8, 9}) {
        EXPECT_EQ(after.subItems[unchanged], before.subItems[unchanged]) << unchanged;
    }
    MainForm->ButtonClearClick();
    ASSERT_TRUE(MainForm->UndoListChange());
    EXPECT_EQ(MainForm->Row(1)->Texts().subItems, after.subItems);
}

TEST(RowTextTest, SizesDurationsAndClocksAtTheirBoundaries) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } sizes[] = {
        {0, "1 KB"},
        {1023, "1 KB"},
        {2048, "2 KB"},
        {1048575, "1023 KB"},
        {1048576, "1.0 MB"},
        {1536 * 1024, "1.5 MB"},
        {10200 * 1024, "9.9 MB"},
        {2047 * 1024, "1.9 MB"},
        {1000 * 1024 + 1024 * 1024, "1.9 MB"},
        {999 * 1024 + 1024 * 1024, "1.9 MB"},
        {5ull << 40, "5242880.0 MB"},
    };
    for (const auto& s : sizes) {
        EXPECT_EQ(SizeText(s.bytes), QLatin1String(s.text)) << s.bytes;
    }
    const struct {
        std::uint64_t seconds;
        const char* duration;
        const char* clock;
    } times[] = {
        {0, "00:00", "00:00:00"},           {59, "00:59", "00:00:59"},
        {65, "01:05", "00:01:05"},          {3599, "59:59", "00:59:59"},
        {3725, "1:02:05", "01:02:05"},      {36000, "10:00:00", "10:00:00"},
        {360000, "100:00:00", "100:00:00"}, {7 * 3600 + 5, "7:00:05", "07:00:05"},
    };
    for (const auto& t : times) {
        EXPECT_EQ(DurationText(t.seconds), QLatin1String(t.duration)) << t.seconds;
        EXPECT_EQ(ClockText(t.seconds), QLatin1String(t.clock)) << t.seconds;
    }
}

TEST(RowTextTest, ExtensionsAndSorting) {
    EXPECT_EQ(FileExtension(QStringLiteral("/music/a.b/track")), QString());
    EXPECT_EQ(FileExtension(QStringLiteral("/music/song.Live.MP3")), QStringLiteral(".MP3"));
    EXPECT_EQ(FileExtension(QStringLiteral("/music/.wav")), QStringLiteral(".wav"));
    EXPECT_EQ(FileExtension(QStringLiteral("/music/end.")), QStringLiteral("."));

    QStringList paths{"/m/b.mp3", "/m/A.wav", "/m/a.wav", "/m/C.wma", "/m/B.WAV"};
    SortPaths(paths);
    ASSERT_EQ(paths.size(), 5);
    EXPECT_EQ(paths.mid(0, 2).join(QLatin1Char(' ')).toLower(), QStringLiteral("/m/a.wav /m/a.wav"));
    EXPECT_EQ(paths.mid(2).join(QLatin1Char(' ')).toLower(), QStringLiteral("/m/b.mp3 /m/b.wav /m/c.wma"));
}

TEST(ProbeTest, RecordingsLongerThanFourGigabytesOfPcmKeepTheirWholeDuration) {
    // A minute of 44.1 kHz stereo without a tag, played over and over: 7 hours decode to more than
    // 2^32 bytes, which a 32-bit length would cut to under 7 minutes.
    ASSERT_NE(audio::InitOutputDevice(-1, 44100, 0, nullptr, nullptr), 0);
    const QString minute = testmedia::Lame("minute_notag.mp3", testmedia::Tone(44100, 2, 60.0),
                                           {"-b", "32", "--resample", "44.1", "-t"});
    const QByteArray once = testmedia::ReadFile(minute);
    const audio::StreamHandle one = audio::OpenFileStream(false, minute, 0, 0, 0);
    ASSERT_NE(one, 0u);
    const std::uint64_t minuteBytes = audio::GetStreamLength(one, audio::POS_BYTE);
    audio::FreeStream(one);

    constexpr int kRepeats = 421;
    const QString path = testmedia::Dir() + QStringLiteral("seven_hours.mp3");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < kRepeats; ++i) {
            file.write(once);
        }
    }
    const ProbeResult probe = ProbeFile(path);
    QFile::remove(path);
    ASSERT_EQ(probe.status, ProbeStatus::Accepted);
    const std::uint64_t expected = minuteBytes * kRepeats / (44100 * 4);
    ASSERT_GT(minuteBytes * kRepeats, 1ull << 32);
    EXPECT_EQ(probe.values.seconds, expected);
    EXPECT_GE(probe.values.seconds, 7u * 3600);
    audio::FreeOutputDevice();
}

TEST(ProbeTest, WavFilesOfMoreThan2And4GigabytesShowTheirWholeSizeAndDuration) {
    // Sparse files: only the header is written. Above 4 GiB the data size field cannot hold the
    // length; 0xFFFFFFFF there means the data runs to the end of the file, as our own output writes it.
    const struct {
        int rate, channels, bits;
        std::uint64_t dataBytes;
        std::uint32_t sizeField;
        const char* shownSize;
        const char* shownDuration;
    } cases[] = {
        {8000, 1, 8, 8000ull * 27000, 8000u * 27000, "205.9 MB", "7:30:00"},
        {44100, 2, 16, 176400ull * 15000, 176400u * 15000, "2523.4 MB", "4:10:00"},
        {44100, 2, 16, 0xFFFFFFF0ull, 0xFFFFFFF0u, "4096.0 MB", "6:45:47"},
        {44100, 2, 16, 176400ull * 27000, 0xFFFFFFFFu, "4542.1 MB", "7:30:00"},
    };
    for (const auto& c : cases) {
        const QString path = testmedia::Dir() + QStringLiteral("long.wav");
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(WavBuilder().Format(c.channels, c.rate, c.bits).Data({}, c.sizeField).Bytes());
            ASSERT_TRUE(file.resize(static_cast<qint64>(44 + c.dataBytes)));
        }
        const ProbeResult probe = ProbeFile(path);
        QFile::remove(path);
        ASSERT_EQ(probe.status, ProbeStatus::Accepted) << c.shownDuration;
        EXPECT_EQ(probe.values.sizeBytes, 44 + c.dataBytes);
        const AudioFileRowTexts row = MakeRowTexts(path, probe.values, {});
        EXPECT_EQ(row.subItems[3].toStdString(), c.shownSize);
        EXPECT_EQ(row.subItems[4].toStdString(), c.shownDuration);
    }
}

}  // namespace
