// What the command line asks for, and how the files it names (or a second
// copy hands over) reach the playlist and start playing.

#include "TestSupport.h"

#include "player/CommandLine.h"
#include "player/MediaPlayer.h"
#include "player/OpenPaths.h"
#include "player/Unit1.h"
#include "playlist/Playlist.h"
#include "playlist/Unit2.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using Action = CommandLine::Action;

class CommandLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir state;

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(state.path())); }

    void optionsEndTheRunOrAreRefused_data() {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QByteArray>("badOption");
        QTest::newRow("help") << QByteArrayList{"a.mp3", "--help"} << Action::Help << QByteArray();
        QTest::newRow("-h") << QByteArrayList{"-h"} << Action::Help << QByteArray();
        QTest::newRow("version") << QByteArrayList{"--version"} << Action::Version << QByteArray();
        QTest::newRow("unknown") << QByteArrayList{"a.mp3", "-x"} << Action::Usage
                                 << QByteArray("-x");
        QTest::newRow("after --") << QByteArrayList{"--", "--help"} << Action::Run << QByteArray();
    }
    void optionsEndTheRunOrAreRefused() {
        QFETCH(QByteArrayList, arguments);
        QFETCH(Action, action);
        QFETCH(QByteArray, badOption);
        const CommandLine command = ParseCommandLine(arguments, "/home/u");
        QCOMPARE(command.action, action);
        QCOMPARE(command.badOption, badOption);
    }

    void argumentsBecomeAbsolutePathsAsBytes_data() {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArrayList>("paths");
        QTest::newRow("relative") << QByteArray("../music/./a.mp3")
                                  << QByteArrayList{"/home/music/a.mp3"};
        QTest::newRow("dash") << QByteArray("-") << QByteArrayList{"/home/u/-"};
        QTest::newRow("Latin-1 bytes")
            << QByteArray("/m/\xe9t\xe9.mp3") << QByteArrayList{"/m/\xe9t\xe9.mp3"};
        QTest::newRow("file URL, escapes are bytes")
            << QByteArray("file:///m/%E9t%E9%20%231.mp3#part")
            << QByteArrayList{"/m/\xe9t\xe9 #1.mp3"};
        QTest::newRow("file URL on localhost")
            << QByteArray("FILE://localhost/m/a.wav") << QByteArrayList{"/m/a.wav"};
        QTest::newRow("file URL of another host")
            << QByteArray("file://far/m/a.wav") << QByteArrayList{};
        QTest::newRow("web URL") << QByteArray("http://example.org/a.mp3") << QByteArrayList{};
    }
    void argumentsBecomeAbsolutePathsAsBytes() {
        QFETCH(QByteArray, argument);
        QFETCH(QByteArrayList, paths);
        const CommandLine command = ParseCommandLine({argument}, "/home/u");
        QCOMPARE(command.action, Action::Run);
        QCOMPARE(command.paths, paths);
        for (const QByteArray& path : paths)
            QCOMPARE(LocalPathOfUrl(FileUrlOfPath(path)), path);
    }

    void openedPathsAreAppendedAndTheFirstNewEntryPlays() {
        const QByteArray tone = TestSupport::Media(QStringLiteral("tone.mp3"));
        QTemporaryDir scratch;
        const QByteArray top = QFile::encodeName(scratch.path());
        QVERIFY(::mkdir(top + "/album", 0755) == 0 && ::mkdir(top + "/album/cd2", 0755) == 0);
        // Real media, since what is added is played, and what will not play
        // is cleaned away.
        QVERIFY(QFile::copy(QFile::decodeName(tone),
                            scratch.filePath(QStringLiteral("album/one.mp3"))));
        TestSupport::WriteFile(top + "/album/notes.txt", {});
        TestSupport::WriteFile(top + "/notes.txt", {});
        QVERIFY(QFile::copy(QFile::decodeName(TestSupport::Media(QStringLiteral("tone.wav"))),
                            scratch.filePath(QStringLiteral("album/cd2/two.wav"))));
        TestSupport::WriteFile(top + "/list.PLF", tone + "\r\n\r\n");
        TestSupport::WriteFile(top + "/line\nbreak.mp3", {});

        TForm1 f1;
        f1.show();
        TForm2 f2(&f1);
        f1.Form2 = &f2;
        f2.AppendEntry("/old.mp3");
        OpenPaths(f1, {top + "/line\nbreak.mp3", tone, top + "/notes.txt", top + "/album",
                       top + "/list.PLF", top + "/missing.mp3"});
        const std::vector<QByteArray> expected{
            "/old.mp3", tone, top + "/album/one.mp3", top + "/album/cd2/two.wav", tone, ""};
        QCOMPARE(f2.Lists->Paths(), expected);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 6 items"));
        QCOMPARE(f2.CurrentIndex(), 1);
        QCOMPARE(f1.MP->FileName, tone);
        QVERIFY(f1.isPlaying());

        // Without "Include Subfolder" a folder gives its own files only;
        // nothing to add starts nothing.
        f2.IncludeSubfolder1Click();
        OpenPaths(f1, {top + "/album"});
        QCOMPARE(f2.EntryCount(), 7);
        f1.SpeedButton1Click();
        OpenPaths(f1, {top + "/notes.txt"});
        QCOMPARE(f2.EntryCount(), 7);
        QVERIFY(!f1.isLoaded());
    }
};

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
