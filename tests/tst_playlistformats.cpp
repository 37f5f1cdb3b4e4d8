// Playlists of other players, written here in the shapes those players
// write them: M3U and M3U8 with comments, relative names, URLs, CR LF, a
// byte order mark and names that are not UTF-8; PLS; XSPF. And the M3U8 that
// "Save List" writes.

#include "TestSupport.h"

#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Paths = QList<QByteArray>;

namespace {

Paths toList(const PathList& paths) {
    return Paths(paths.begin(), paths.end());
}

QByteArray readBytes(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class PlaylistFormatsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray root_;  // the folder of the test's files
    QByteArray lists_; // the folder the playlists are written to

    QByteArray write(const char* name, const QByteArray& text) {
        const QByteArray path = lists_ + '/' + name;
        TestSupport::WriteFile(path, text);
        return path;
    }

private slots:
    void initTestCase() {
        root_ = QFile::encodeName(dir_.path());
        lists_ = root_ + "/lists";
        QVERIFY(::mkdir(lists_.constData(), 0755) == 0);
    }

    // --- M3U and M3U8 ---
    void anExtendedM3u8FromAnotherPlayerGivesItsLocalFilesAsFullPaths() {
        const QByteArray path = write("album.m3u8", "\xEF\xBB\xBF#EXTM3U\r\n"
                                                    "#EXTINF:215,Artist - First\r\n"
                                                    "01 - First.mp3\r\n"
                                                    "# a comment of the user\r\n"
                                                    "\r\n"
                                                    "  ../other/./second.flac  \r\n"
                                                    "/music/third.mp3\r\n"
                                                    "file:///music/caf%C3%A9%20%23four.mp3\r\n"
                                                    "FILE://localhost/music/five.wav\r\n"
                                                    "http://radio.example/stream.mp3\r\n"
                                                    "file://otherhost/music/six.mp3\r\n"
                                                    "C:\\Music\\seven.mp3\r\n"
                                                    "Disc 2\\08.mp3\r\n");
        // What is left out is told in one line on stderr.
        const QByteArray stderrFile = root_ + "/stderr";
        std::fflush(stderr);
        const int savedStderr = ::dup(2);
        const int captured = ::open(stderrFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(captured, 2);
        const PathList read = ReadPlaylistFile(path);
        std::fflush(stderr);
        ::dup2(savedStderr, 2);
        ::close(savedStderr);
        ::close(captured);
        QCOMPARE(readBytes(stderrFile),
                 "tolvane: 3 entries of \"" + path + "\" left out: not local files\n");
        QCOMPARE(toList(read), (Paths{lists_ + "/01 - First.mp3", root_ + "/other/second.flac",
                                      "/music/third.mp3", "/music/caf\xC3\xA9 #four.mp3",
                                      "/music/five.wav", lists_ + "/Disc 2/08.mp3"}));
        const auto list = ReadOtherPlayersList(path);
        QVERIFY(list);
        QCOMPARE(list->leftOut, size_t(3));
    }
    void aPlainM3uKeepsTheBytesOfNamesThatAreNotUtf8() {
        const QByteArray path = write("latin1.M3U", "\xE9t\xE9.mp3\n"
                                                    "/m/na\xEFve.wav\n"
                                                    "file:///m/%FF%FE.mid\n"
                                                    "file:///m/bad%0Aname.mp3\n"
                                                    "file:///m/nul%00.mp3");
        const auto list = ReadOtherPlayersList(path);
        QVERIFY(list);
        QCOMPARE(toList(list->paths),
                 (Paths{lists_ + "/\xE9t\xE9.mp3", "/m/na\xEFve.wav", "/m/\xFF\xFE.mid"}));
        QCOMPARE(list->leftOut, size_t(2));
    }
    void aListWhoseContentDisagreesWithItsNameIsReadAsAPlfList_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("PLS text named .m3u") << QByteArray("a.m3u") << QByteArray("[playlist]\n");
        QTest::newRow("XML named .m3u8") << QByteArray("b.m3u8") << QByteArray("<?xml?>\n/x.mp3");
        QTest::newRow("M3U text named .pls") << QByteArray("c.pls") << QByteArray("#EXTM3U\n/x");
        QTest::newRow("M3U text named .xspf") << QByteArray("d.xspf") << QByteArray("/x.mp3\n");
        QTest::newRow("other XML named .xspf")
            << QByteArray("e.xspf") << QByteArray("<html><location>/x</location></html>");
        QTest::newRow("a NUL in an .m3u") << QByteArray("f.m3u") << QByteArray("/x\n/y\0z", 7);
        QTest::newRow("M3U text named .plf")
            << QByteArray("g.plf") << QByteArray("#EXTM3U\r\n#EXTINF:1,x\r\nrel.mp3\r\n");
        QTest::newRow("M3U text named .m3u.txt")
            << QByteArray("h.m3u.txt") << QByteArray("#EXTM3U\r\nrel.mp3\r\n");
    }
    void aListWhoseContentDisagreesWithItsNameIsReadAsAPlfList() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, text);
        const QByteArray path = write(name.constData(), text);
        QVERIFY(!ReadOtherPlayersList(path));
        QCOMPARE(ReadPlaylistFile(path), SplitListText(text.constData(), size_t(text.size())));
    }

    // --- PLS ---
    void aPlsListGivesItsFilesInNumberOrder() {
        const QByteArray path = write("radio.PLS", "[playlist]\r\n"
                                                   "NumberOfEntries=5\r\n"
                                                   "File10=/m/ten.mp3\r\n"
                                                   "File2=two.mp3\r\n"
                                                   "Title2=Two\r\n"
                                                   "Length2=-1\r\n"
                                                   "file1 = /m/one.mp3\r\n"
                                                   "File3=http://radio.example:8000/\r\n"
                                                   "FileX=/m/not-a-number.mp3\r\n"
                                                   "File4=file:///m/f%C3%BCnf.ogg\r\n"
                                                   "Version=2\r\n");
        const auto list = ReadOtherPlayersList(path);
        QVERIFY(list);
        QCOMPARE(toList(list->paths),
                 (Paths{"/m/one.mp3", lists_ + "/two.mp3", "/m/f\xC3\xBCnf.ogg", "/m/ten.mp3"}));
        QCOMPARE(list->leftOut, size_t(1));
    }

    // --- XSPF ---
    void anXspfListGivesTheFirstLocalLocationOfEachTrack() {
        const QByteArray path = write(
            "mix.xspf", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n"
                        "  <title>Mix</title>\n"
                        "  <location>file:///lists/mix.xspf</location>\n"
                        "  <trackList>\n"
                        "    <track><location>file:///m/%E9t%E9%20one.mp3</location>"
                        "<title>One</title><duration>1000</duration></track>\n"
                        "    <track><location>http://cdn.example/two.mp3</location>"
                        "<location> file:///m/two.mp3 </location></track>\n"
                        "    <track><location>sub/three%20&amp;.mp3</location></track>\n"
                        "    <track><location>https://example.com/four.ogg</location></track>\n"
                        "    <track><extension application=\"x\"><location>/m/no.mp3</location>"
                        "</extension><location>/m/five.wav</location></track>\n"
                        "  </trackList>\n"
                        "</playlist>\n");
        const auto list = ReadOtherPlayersList(path);
        QVERIFY(list);
        QCOMPARE(toList(list->paths), (Paths{"/m/\xE9t\xE9 one.mp3", "/m/two.mp3",
                                             lists_ + "/sub/three &.mp3", "/m/five.wav"}));
        QCOMPARE(list->leftOut, size_t(1));
    }
    void hostileXspfReadsNoOtherFileAndExpandsNoEntityBomb() {
        QByteArray laughs = "<!DOCTYPE playlist [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaa\">";
        for (char c = 'b'; c <= 'k'; ++c)
            laughs += QByteArray("<!ENTITY ") + c + " \"" +
                      QByteArray(10, ' ').replace(' ', QByteArray("&") + char(c - 1) + ';') + "\">";
        laughs += "]>";
        const QByteArray bomb =
            write("bomb.xspf", "<?xml version=\"1.0\"?>" + laughs +
                                   "<playlist><trackList><track><location>/m/&k;</location>"
                                   "</track></trackList></playlist>");
        const QByteArray outside =
            write("outside.xspf",
                  "<?xml version=\"1.0\"?><!DOCTYPE playlist [<!ENTITY x SYSTEM "
                  "\"file:///etc/hostname\">]><playlist><trackList><track><location>/m/&x;"
                  "</location></track></trackList></playlist>");
        for (const QByteArray& path : {bomb, outside}) {
            const auto list = ReadOtherPlayersList(path);
            QVERIFY(list);
            for (const QByteArray& entry : list->paths)
                QVERIFY2(entry.size() < 1000 && IsStorablePath(entry), entry.left(80));
        }
    }
    void anXspfBrokenOffGivesTheTracksBeforeTheBreak() {
        const QByteArray path =
            write("cut.xspf", "<playlist><trackList><track><location>/m/a.mp3</location></track>"
                              "<track><location>/m/b.mp3</locat");
        QCOMPARE(toList(ReadPlaylistFile(path)), Paths{"/m/a.mp3"});
    }

    // --- writing M3U8 ---
    void savingUnderAnM3u8NameWritesExtendedM3u8ThatReadsBackTheSame() {
        const PathList paths = {"/m/a.mp3",         "/m/caf\xC3\xA9.wav", "/m/\xE9t\xE9 \xFF.mp3",
                                "/m/trailing.mp3 ", "/m/100%.mp3",        "/m/#hash.mid",
                                "/m/http:/odd.mp3", "/m/ tab\t.mp3"};
        for (const char* name : {"out.m3u8", "OUT.M3U"}) {
            const QByteArray path = lists_ + '/' + name;
            SavePlaylistFile(path, paths);
            const QByteArray text = readBytes(path);
            QVERIFY(text.startsWith("#EXTM3U\n#EXTINF:-1,a.mp3\n/m/a.mp3\n"
                                    "#EXTINF:-1,caf\xC3\xA9.wav\n/m/caf\xC3\xA9.wav\n"));
            QCOMPARE(QString::fromUtf8(text).toUtf8(), text); // valid UTF-8 throughout
            QCOMPARE(ReadPlaylistFile(path), paths);
        }
    }
};

QTEST_GUILESS_MAIN(PlaylistFormatsTest)
#include "tst_playlistformats.moc"
