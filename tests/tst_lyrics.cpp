#include "TestSupport.h"
#include "TestWindows.h"

#include "platform/DesktopServices.h"
#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/ListBox.h"
#include "playlist/LyricView.h"
#include "playlist/Unit2.h"
#include "playlist/core/Lyrics.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <cstdio>
#include <sys/stat.h>

namespace {

using TestSupport::WriteFile;

// Whether `view` lies in front of `other`, its sibling.
bool inFront(QWidget* view, QWidget* other) {
    const QObjectList order = view->parent()->children(); // back to front
    return order.indexOf(view) > order.indexOf(other);
}

// Records what the desktop would have been asked to start.
struct DesktopRequests {
    QStringList actions;
    QList<QByteArray> arguments;
    DesktopRequests() {
        SetDesktopRecorder([this](const QString& action, const QByteArray& argument) {
            actions << action;
            arguments << argument;
        });
    }
    ~DesktopRequests() { SetDesktopRecorder(nullptr); }
};

// A desktop of the test's own for starting editors: its own PATH, data and
// configuration folders and editor variables, all put back afterwards. Its
// programs only note how they were started, one argument a line, in `log`.
struct FakeDesktop {
    QTemporaryDir root;
    const QByteArray top = QFile::encodeName(root.path());
    const QByteArray bin = top + "/bin", data = top + "/data", config = top + "/config",
                     log = top + "/log";
    QList<QPair<const char*, QByteArray>> saved;

    FakeDesktop() {
        for (const QByteArray& folder : {bin, data + "/applications", config})
            QDir().mkpath(QFile::decodeName(folder));
        const QList<QPair<const char*, QByteArray>> set = {{"PATH", bin},
                                                           {"XDG_DATA_HOME", data},
                                                           {"XDG_DATA_DIRS", top + "/nodata"},
                                                           {"XDG_CONFIG_HOME", config},
                                                           {"XDG_CONFIG_DIRS", top + "/noconfig"},
                                                           {"XDG_CURRENT_DESKTOP", {}},
                                                           {"VISUAL", {}},
                                                           {"EDITOR", {}}};
        for (const auto& [name, value] : set) {
            saved << qMakePair(name, qgetenv(name));
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        }
    }
    ~FakeDesktop() {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    void program(const QByteArray& name) {
        const QByteArray path = bin + '/' + name;
        WriteFile(path, "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$@\" >> '" + log + "'\n");
        ::chmod(path.constData(), 0755);
    }
    QByteArray started() {
        QFile file(QFile::decodeName(log));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

// Another X program pasting what the view copied (xclip asks for one target
// and prints the owner's bytes); this process owns the clipboard, so its
// event loop runs meanwhile.
QByteArray paste(const QByteArray& target) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                 QStringLiteral("-t"), QString::fromLatin1(target)});
    for (QDeadlineTimer deadline(5000); xclip.state() != QProcess::NotRunning;)
        QTest::qWait(deadline.hasExpired() ? (xclip.kill(), 100) : 10);
    return xclip.readAllStandardOutput();
}

} // namespace

class LyricsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QByteArray folder;

    QByteArray media(const QByteArray& name) { return folder + '/' + name; }

private slots:
    void initTestCase() { folder = QFile::encodeName(dir.path()); }
    // QTemporaryDir cannot remove a name that is not UTF-8 by itself.
    void cleanupTestCase() { std::remove(media("caf\xe9.mp3.txt").constData()); }

    // --- the loader ---

    void threeLineFileShowsAnEmptyLineThenItsThreeLines() {
        WriteFile(media("three.mp3.txt"), "first\nsecond\nthird\n");
        QCOMPARE(LyricViewText(media("three.mp3")), QStringLiteral("\nfirst\nsecond\nthird"));
    }

    void emptyFileShowsOneEmptyLine() {
        WriteFile(media("empty.mp3.txt"), "");
        QCOMPARE(LyricViewText(media("empty.mp3")), QString());
    }

    void linesEndAtCarriageReturnLineFeedOrBoth() {
        QCOMPARE(SplitLyricLines(QStringLiteral("a\rb\r\nc\nd")),
                 QStringList({"a", "b", "c", "d"}));
        // A line feed followed by a carriage return is two line ends.
        QCOMPARE(SplitLyricLines(QStringLiteral("a\n\rb")), QStringList({"a", "", "b"}));
        QCOMPARE(SplitLyricLines(QStringLiteral("a\n\n")), QStringList({"a", ""}));
        QCOMPARE(SplitLyricLines(QStringLiteral("no end")), QStringList({"no end"}));
        QCOMPARE(SplitLyricLines(QString()), QStringList());
    }

    void missingFileShowsTheLowerCasedNameInQuotes() {
        QCOMPARE(LyricViewText(media("MyMusic.mp3")),
                 QStringLiteral("\nLyric file is not found for\n\"mymusic.mp3\""));
        // Only A..Z change.
        QCOMPARE(LyricNotFoundText(QByteArray("/m/\xc3\x84") + "BC.MP3"),
                 QStringLiteral("\nLyric file is not found for\n\"\u00c4bc.mp3\""));
    }

    void mixedCaseNameFindsTheFileAsItStandsThenLowerCased() {
        WriteFile(media("mysong.mp3.txt"), "lower");
        QCOMPARE(LyricViewText(media("MySong.MP3")), QStringLiteral("\nlower"));
        QCOMPARE(FindLyricFile(media("MySong.MP3")), std::optional(media("mysong.mp3.txt")));

        WriteFile(media("MySong.MP3.txt"), "as it stands");
        QCOMPARE(LyricViewText(media("MySong.MP3")), QStringLiteral("\nas it stands"));

        // Any case of the name is found in the media file's folder, the
        // lower-cased one first of several.
        WriteFile(media("Song.MP3.TXT"), "upper");
        QCOMPARE(FindLyricFile(media("Song.mp3")), std::optional(media("Song.MP3.TXT")));
        WriteFile(media("song.mp3.txt"), "lower");
        QCOMPARE(LyricViewText(media("SONG.mp3")), QStringLiteral("\nlower"));
    }

    void textThatIsNotUtf8ShowsAsWindows1252() {
        WriteFile(media("latin.mp3.txt"), "Caf\xe9 \x93sung\x94\r\n\x80 5");
        QCOMPARE(LyricViewText(media("latin.mp3")),
                 QStringLiteral("\nCaf\u00e9 \u201csung\u201d\n\u20ac 5"));
        WriteFile(media("utf8.mp3.txt"), QByteArray("\xef\xbb\xbf") + "Caf\xc3\xa9 \xe2\x82\xac");
        QCOMPARE(LyricViewText(media("utf8.mp3")), QStringLiteral("\nCaf\u00e9 \u20ac"));
    }

    void lyricFileNextToANameThatIsNotUtf8IsFound() {
        WriteFile(media("caf\xe9.mp3.txt"), "bytes kept");
        QCOMPARE(LyricViewText(media("caf\xe9.mp3")), QStringLiteral("\nbytes kept"));
    }

    void largeFileShowsItsFirstMebibyteWithoutACutCharacter() {
        // The first MiB ends with the first byte of a two-byte character.
        QByteArray text(MaxLyricFileBytes - 1, 'a');
        text += "\xc3\xa9 and more after the first mebibyte";
        WriteFile(media("long.mp3.txt"), text);
        const QString shown = LyricViewText(media("long.mp3"));
        QCOMPARE(shown, QLatin1Char('\n') + QString(MaxLyricFileBytes - 1, u'a'));
    }

    void folderNamedLikeALyricFileIsNotFound() {
        QVERIFY(QDir().mkpath(QFile::decodeName(media("dir.mp3.txt"))));
        QCOMPARE(LyricViewText(media("dir.mp3")),
                 QStringLiteral("\nLyric file is not found for\n\"dir.mp3\""));
    }

    // --- the view in the playlist window ---

    void lyricBringsTheViewToTheFrontWithTheCurrentEntrysLyrics() {
        WriteFile(media("a.mp3.txt"), "line a1\nline a2\nline a3");
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        f2.ClearEntries();
        f2.AppendEntry(media("a.mp3"));
        f2.SetCurrentIndex(0);
        QVERIFY(!inFront(f2.lirik, f2.ListB));

        f2.Lyric1Click();
        QVERIFY(inFront(f2.lirik, f2.ListB));
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("\nline a1\nline a2\nline a3"));
        QCOMPARE(f2.lirik->document()->blockCount(), 4);

        f2.Closelyricwindow1Click();
        QVERIFY(!inFront(f2.lirik, f2.ListB));
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("\nline a1\nline a2\nline a3"));
    }

    void reloadShowsTheLoadedFileWhereLyricShowsTheCurrentEntry() {
        WriteFile(media("playing.mp3.txt"), "playing words");
        WriteFile(media("chosen.mp3.txt"), "chosen words");
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f2.ClearEntries();
        f2.AppendEntry(media("playing.mp3"));
        f2.AppendEntry(media("chosen.mp3"));
        f2.SetCurrentIndex(1);
        f1.MP->FileName = media("playing.mp3");

        f2.Lyric1Click();
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("\nchosen words"));
        f2.Reload1Click();
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("\nplaying words"));
    }

    void reloadWithNothingLoadedNamesNoFile() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f1.MP->FileName.clear();
        f2.Reload1Click();
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("\nLyric file is not found for\n\"\""));
    }

    void lyricWithoutCurrentEntryShowsTheViewAndReportsTheIndex() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        f2.ClearEntries();
        f2.lirik->setPlainText(QStringLiteral("kept"));
        TestSupport::MessageRecorder recorder;
        f2.Lyric1Click();
        QVERIFY(inFront(f2.lirik, f2.ListB));
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(recorder.errors, QStringList{QStringLiteral("List index out of bounds (-1)")});
    }

    void doubleClickSendsTheViewBehindTheList() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        SetupLyricView(f2.lirik, [&f2] { f2.lirikDblClick(); });
        f2.lirik->raise();
        f2.lirik->setPlainText(QStringLiteral("\nwords"));
        QVERIFY(inFront(f2.lirik, f2.ListB));
        QTest::mouseDClick(f2.lirik->viewport(), Qt::LeftButton);
        QVERIFY(!inFront(f2.lirik, f2.ListB));
        QCOMPARE(f2.lirik->toPlainText(), QStringLiteral("\nwords"));
    }

    void copyPutsTheSelectionOnTheClipboardAsPlainText() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        f2.lirik->setPlainText(QStringLiteral("\nfirst line\nsecond line"));
        QApplication::clipboard()->setText(QStringLiteral("before"));

        f2.Copy1Click(); // nothing selected: the clipboard keeps its text
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));

        QTextCursor cursor(f2.lirik->document());
        // From "line" of the first line to "second".
        cursor.setPosition(7);
        cursor.setPosition(18, QTextCursor::KeepAnchor);
        f2.lirik->setTextCursor(cursor);
        f2.Copy1Click();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("line\nsecond"));
        QVERIFY(!QApplication::clipboard()->mimeData()->hasHtml());
    }

    // Pasted elsewhere as the view shows it: STRING in Latin-1 ('?' for what
    // it lacks), the UTF-8 names in UTF-8, and no styled copy.
    void copyAnswersEveryTextTargetOfOtherXProgramsInItsOwnEncoding() {
        if (QGuiApplication::platformName() != u"xcb" ||
            QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            QSKIP("needs an X display and xclip");
        WriteFile(media("pasted.mp3.txt"), "Caf\xe9 \x80");
        TestSupport::PlaylistWindow f2;
        f2.ClearEntries();
        f2.AppendEntry(media("pasted.mp3"));
        f2.SetCurrentIndex(0);
        f2.Lyric1Click();
        QTest::keyClick(f2.lirik, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f2.lirik, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(paste("STRING"), QByteArray("\nCaf\xe9 ?"));
        QCOMPARE(paste("text/plain;charset=utf-8"), QByteArray("\nCaf\xc3\xa9 \xe2\x82\xac"));
        QVERIFY(!paste("TARGETS").contains("text/html"));
    }

    void editOpensAnExistingLyricFileElseAnEmptyEditor() {
        WriteFile(media("edit.mp3.txt"), "words");
        WriteFile(media("upper.mp3.txt"), "words");
        TestSupport::PlaylistWindow f2;
        f2.ClearEntries();
        f2.AppendEntry(media("edit.mp3"));
        f2.AppendEntry(media("none.mp3"));
        f2.AppendEntry(media("UPPER.mp3"));
        DesktopRequests desktop;

        f2.SetCurrentIndex(0);
        f2.Edit1Click();
        f2.SetCurrentIndex(1);
        f2.Edit1Click();
        f2.SetCurrentIndex(2);
        f2.Edit1Click();
        QCOMPARE(desktop.actions, QStringList({"edit-file", "start-editor", "edit-file"}));
        QCOMPARE(desktop.arguments[0], media("edit.mp3.txt"));
        QCOMPARE(desktop.arguments[1], QByteArray());
        QCOMPARE(desktop.arguments[2], media("upper.mp3.txt"));
    }

    // Without any of the named editors: the desktop's default for plain
    // text, then $VISUAL or $EDITOR in a terminal, else a message.
    void editStartsTheDesktopsTextEditorOrTheUsersOrSaysThereIsNone() {
        WriteFile(media("words.mp3.txt"), "words");
        TestSupport::PlaylistWindow f2;
        f2.ClearEntries();
        f2.AppendEntry(media("words.mp3"));
        FakeDesktop desktop;
        TestSupport::MessageRecorder boxes;

        desktop.program("notes");
        WriteFile(desktop.data + "/applications/notes.desktop",
                  "[Desktop Entry]\nType=Application\nName=Notes\n"
                  "Exec=notes --new-window \"two words\" %F\n");
        WriteFile(desktop.config + "/mimeapps.list",
                  "[Default Applications]\nimage/png=viewer.desktop\n"
                  "text/plain=gone.desktop;notes.desktop;\n");
        f2.SetCurrentIndex(0);
        f2.Edit1Click();
        QTRY_COMPARE_WITH_TIMEOUT(
            desktop.started(), "notes\n--new-window\ntwo words\n" + media("words.mp3.txt") + '\n',
            20000);

        QFile::remove(QFile::decodeName(desktop.config + "/mimeapps.list"));
        QFile::remove(QFile::decodeName(desktop.log));
        desktop.program("xterm");
        desktop.program("myvi");
        qputenv("EDITOR", "myvi -f");
        f2.Edit1Click();
        QTRY_COMPARE_WITH_TIMEOUT(desktop.started(),
                                  "xterm\n-e\nmyvi\n-f\n" + media("words.mp3.txt") + '\n', 20000);
        QVERIFY(boxes.messages.isEmpty());

        QFile::remove(QFile::decodeName(desktop.bin + "/xterm"));
        f2.Edit1Click();
        QCOMPARE(boxes.messages, QStringList{"No text editor was found. Install one, or set "
                                             "VISUAL or EDITOR to the one you use."});
        QVERIFY(boxes.errors.isEmpty());
    }

    void editWithoutCurrentEntryReportsTheIndexAndStartsNothing() {
        TestSupport::PlaylistWindow f2;
        f2.ClearEntries();
        DesktopRequests desktop;
        TestSupport::MessageRecorder recorder;
        f2.Edit1Click();
        QVERIFY(desktop.actions.isEmpty());
        QCOMPARE(recorder.errors, QStringList{QStringLiteral("List index out of bounds (-1)")});
    }

    // The texts join their lines with LF CR; each pair is one line break.
    void helpShowsTwoMessagesOneAfterTheOther() {
        TestSupport::PlaylistWindow f2;
        TestSupport::MessageRecorder recorder;
        f2.Help1Click();
        QCOMPARE(recorder.messages,
                 QStringList({
                     "To create lyric file, edit your lyric text using notepad, name it same with "
                     "associated music file\nthen put it in the same folder",
                     "For example:\nThe music file is \"C:\\Music\\MyMusic.mp3\"\n"
                     "The lyric file is \"C:\\Music\\MyMusic.mp3.txt\"",
                 }));
        QVERIFY(recorder.errors.isEmpty());
    }

    void viewShowsCentredLimeLinesOnDarkGreyWithoutBorder() {
        QTextEdit view;
        SetupLyricView(&view, {});
        view.setPlainText(LyricNotFoundText("/m/x.mp3"));
        QVERIFY(view.isReadOnly());
        QCOMPARE(view.frameShape(), QFrame::NoFrame);
        QCOMPARE(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(view.lineWrapMode(), QTextEdit::WidgetWidth);
        QCOMPARE(view.palette().color(QPalette::Base), QColor(74, 70, 70));
        QCOMPARE(view.palette().color(QPalette::Text), QColor(0, 255, 0));
        // Text put in after the set-up is centred too.
        QVERIFY(view.document()->defaultTextOption().alignment() & Qt::AlignHCenter);
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QTextBlock line = view.document()->findBlockByNumber(1);
        const QRectF box = view.document()->documentLayout()->blockBoundingRect(line);
        const qreal textWidth = line.layout()->lineAt(0).naturalTextWidth();
        const qreal left = line.layout()->lineAt(0).cursorToX(0); // after alignment
        QVERIFY(left > 0);
        QVERIFY(qAbs(left + textWidth / 2 - box.width() / 2) < 3);
    }
};

QTEST_MAIN(LyricsTest)
#include "tst_lyrics.moc"
