// What the command line asks for, and how the files it names (or a second
// copy hands over) reach the playlist and start playing.

#include "TestSupport.h"
#include "TestWindows.h"

#include "desktop/CommandLine.h"
#include "player/PlayerControl.h"
#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"

#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using Action = CommandLine::Action;

class CommandLineTest : public QObject {
    Q_OBJECT

    QTemporaryDir state;

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(state.path())); }

    // Options end the run or are refused; other arguments become absolute
    // paths, as bytes.
    void argumentsAreRead() {
        const auto action = [](const QByteArrayList& arguments) {
            return ParseCommandLine(arguments, "/").action;
        };
        QCOMPARE(action({"a.mp3", "--help"}), Action::Help);
        QCOMPARE(action({"-h"}), Action::Help);
        QCOMPARE(action({"--version"}), Action::Version);
        QCOMPARE(action({"--", "--help"}), Action::Run);
        QCOMPARE(ParseCommandLine({"a.mp3", "-x", "--help"}, "/").badOption, "-x");
        const auto paths = [](const QByteArray& argument) {
            return ParseCommandLine({argument}, "/home/u").paths;
        };
        QCOMPARE(paths("../music/./a.mp3"), QByteArrayList{"/home/music/a.mp3"});
        QCOMPARE(paths("-"), QByteArrayList{"/home/u/-"});
        QCOMPARE(paths("/m/\xe9t\xe9.mp3"), QByteArrayList{"/m/\xe9t\xe9.mp3"});
        // In a URL the escapes are the name's bytes; a bare "#" ends the name.
        QCOMPARE(paths("file:///m/%E9t%E9%20%231.mp3#part"), QByteArrayList{"/m/\xe9t\xe9 #1.mp3"});
        QCOMPARE(paths("FILE://localhost/m/a.wav"), QByteArrayList{"/m/a.wav"});
        QCOMPARE(paths("file://far/m/a.wav"), QByteArrayList{});
        QCOMPARE(paths("http://example.org/a.mp3"), QByteArrayList{});
        QCOMPARE(LocalPathOfUrl(FileUrlOfPath("/m/\xe9 #%?.mp3")), "/m/\xe9 #%?.mp3");
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

        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f1.Form2 = &f2;
        f2.AppendEntry("/old.mp3");
        PlayerControl control(f1);
        // The controller carries out its commands from the event loop.
        const auto open = [&control](const QByteArrayList& paths) {
            control.OpenPaths(paths);
            QCoreApplication::processEvents();
        };
        open({top + "/line\nbreak.mp3", tone, top + "/notes.txt", top + "/album", top + "/list.PLF",
              top + "/missing.mp3"});
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
        open({top + "/album"});
        QCOMPARE(f2.EntryCount(), 7);
        f1.SpeedButton1Click();
        open({top + "/notes.txt"});
        QCOMPARE(f2.EntryCount(), 7);
        QVERIFY(!f1.isLoaded());
    }

    void aPlaylistOfAnotherPlayerAddsItsEntriesAndTheFirstPlays() {
        const QByteArray tone = TestSupport::Media(QStringLiteral("tone.mp3"));
        QTemporaryDir scratch;
        const QByteArray top = QFile::encodeName(scratch.path());
        QVERIFY(QFile::copy(QFile::decodeName(tone), scratch.filePath(QStringLiteral("a b.mp3"))));
        TestSupport::WriteFile(top + "/mix.m3u8", "#EXTM3U\r\n#EXTINF:1,Tone\r\na b.mp3\r\n"
                                                  "https://radio.example/\r\nfile://" +
                                                      tone.toPercentEncoding("/") + "\r\n");
        TestSupport::WriteFile(top + "/mix.xspf",
                               "<playlist><trackList><track><location>a%20b.mp3</location>"
                               "</track></trackList></playlist>");
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f2.AppendEntry("/old.mp3");
        PlayerControl control(f1);
        control.OpenPaths({top + "/mix.m3u8", top + "/mix.xspf"});
        QCoreApplication::processEvents();
        const std::vector<QByteArray> expected{"/old.mp3", top + "/a b.mp3", tone,
                                               top + "/a b.mp3"};
        QCOMPARE(f2.Lists->Paths(), expected);
        QCOMPARE(f2.CurrentIndex(), 1);
        QCOMPARE(f1.MP->FileName, top + "/a b.mp3");
        QVERIFY(f1.isPlaying());
        f1.SpeedButton1Click();
    }
};

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
