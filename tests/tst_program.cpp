// The program as a whole: started, fed its automatic playlist, ended.

#include "TestProgram.h"
#include "TestSupport.h"

#include "playlist/core/PlaylistFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The unprivileged user the permission cases run as: root ignores file modes.
constexpr uid_t Nobody = 65534;

void own(const QByteArray& path, uid_t user, mode_t mode) {
    QVERIFY(::lchown(path.constData(), user, user) == 0);
    QVERIFY(::chmod(path.constData(), mode) == 0);
}

QByteArray readAll(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entriesOf(const QByteArray& folder) {
    return QDir(QFile::decodeName(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
}

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

// The lowest id of a top-level window of the process with that name and an
// id above `above` (windows made later get higher ids), waiting for one while
// the process runs; 0 when none came.
qulonglong waitForWindow(QProcess& player, const QByteArray& name, qulonglong above = 0) {
    const QByteArray quoted = '"' + name + "\": (";
    const QByteArray pid = " = " + QByteArray::number(player.processId());
    for (int i = 0; i < 300 && player.state() == QProcess::Running; ++i) {
        qulonglong found = 0;
        for (const QByteArray& line : run("xwininfo", {"-root", "-tree"}).split('\n')) {
            const QByteArray entry = line.trimmed();
            if (!entry.contains(quoted))
                continue;
            const QByteArray id = entry.left(entry.indexOf(' '));
            const qulonglong number = id.toULongLong(nullptr, 16);
            if (number > above && (!found || number < found) &&
                run("xprop", {"-id", id, "_NET_WM_PID"}).trimmed().endsWith(pid))
                found = number;
        }
        if (found)
            return found;
        QTest::qWait(100);
    }
    return 0;
}

// Answers a message box with Escape, as the user would: once it is shown,
// and again while it stays, since a key that comes too early is lost.
void dismiss(QProcess& player, qulonglong box) {
    const QString id = QString::number(box);
    bool pressed = false;
    for (int i = 0; i < 100 && player.state() == QProcess::Running; ++i) {
        const bool shown = run("xwininfo", {"-id", id}).contains("IsViewable");
        if (!shown && pressed)
            return;
        if (shown) {
            run("xdotool", {"key", "--window", id, "Escape"});
            pressed = true;
        }
        QTest::qWait(300);
    }
}

// The processes under pid, children and theirs.
QSet<pid_t> childrenOf(pid_t pid) {
    QMultiHash<QByteArray, pid_t> byParent;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t each = pid_t(name.toInt(&number));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(name));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            byParent.insert(fields[1], each);
    }
    QSet<pid_t> found;
    QList<pid_t> next{pid};
    while (!next.isEmpty())
        for (pid_t child : byParent.values(QByteArray::number(next.takeFirst())))
            if (!found.contains(child)) {
                found.insert(child);
                next << child;
            }
    return found;
}

QByteArray commandOf(pid_t pid) {
    QFile command(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return command.open(QIODevice::ReadOnly) ? command.readAll().replace('\0', ' ') : QByteArray();
}

} // namespace

class ProgramTest : public QObject {
    Q_OBJECT

    TestSupport::StateFolder state;

    // The world of a case run as Nobody: a copy of the program and a home
    // that user can reach, and the state folder's playlist.
    std::unique_ptr<QTemporaryDir> top_;
    QByteArray program_, home_, folder_, list_;

    void prepareNobody() {
        if (::geteuid() != 0)
            QSKIP("running the player as another user needs root");
        for (const char* tool : {"setpriv", "xwininfo", "xprop", "xdotool"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("a tool the case needs is not installed");
        top_ = std::make_unique<QTemporaryDir>();
        const QByteArray top = QFile::encodeName(top_->path());
        own(top, 0, 0755);
        program_ = top + "/tolvane"; // and the player it becomes, below
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_PROGRAM), QFile::decodeName(program_)));
        own(program_, 0, 0755);
        const QString window = QFileInfo(QStringLiteral(TOLVANE_PROGRAM))
                                   .dir()
                                   .filePath(QStringLiteral("tolvane-window"));
        QVERIFY(QFile::copy(window, QFile::decodeName(top + "/tolvane-window")));
        own(top + "/tolvane-window", 0, 0755);
        home_ = top + "/home";
        for (const char* sub : {"", "/.local", "/.local/state", "/run"}) {
            QVERIFY(QDir().mkpath(QFile::decodeName(home_ + sub)));
            own(home_ + sub, Nobody, 0700);
        }
        folder_ = home_ + "/.local/state/tolvane";
        list_ = folder_ + "/PlayList.plf";
        QVERIFY(QDir().mkpath(QFile::decodeName(folder_)));
        own(folder_, Nobody, 0700);
    }

    void startAsNobody(QProcess& player) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QFile::decodeName(home_));
        env.insert(QStringLiteral("XDG_STATE_HOME"), QFile::decodeName(home_ + "/.local/state"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFile::decodeName(home_ + "/run"));
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.remove(QString::fromLatin1(name));
        player.setProcessEnvironment(env);
        player.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                      QStringLiteral("--clear-groups"), QFile::decodeName(program_)});
        QVERIFY(player.waitForStarted());
    }

    QString playlistPath() const { return state.playlistPath(); }

    // Starts the player with its own state folder and waits until its
    // windows exist (the playlist has been read by then).
    void start(QProcess& player) {
        TestSupport::StartProgram(player, state.environment());
        // Its signal handlers are in place before its first window; a fixed
        // wait is too short for a sanitized build on a busy machine.
        QVERIFY(waitForWindow(player, "Tolvane"));
        QCOMPARE(player.state(), QProcess::Running);
    }

private slots:
    void init() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the virtual display of tools/with-test-env");
    }

    void terminationEndsNormallyAndWritesThePlaylistBack_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void terminationEndsNormallyAndWritesThePlaylistBack() {
        QFETCH(int, signal);
        // Written back with CR LF, the bare CR line ends show that the
        // playlist was read and saved again.
        state.writePlaylist("/music/a.mp3\r/music/b \xe9.wav\r");
        QProcess player;
        start(player);
        ::kill(pid_t(player.processId()), signal);
        QVERIFY(player.waitForFinished(10000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), 0);
        QFile saved(playlistPath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("/music/a.mp3\r\n/music/b \xe9.wav\r\n"));
    }

    // --- run as a user whom file modes bind ---
    void aPlaylistItMayNotWriteOrReadIsKeptItMayWriteIsSaved_data() {
        QTest::addColumn<QByteArray>("how");
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<int>("entries"); // read at start
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QByteArray>("log"); // %1 the playlist, %2 its folder
        QTest::addColumn<int>("logged");
        const QByteArray one = "/music/a.mp3\r", notUsing = "not using \"%2\"";
        QTest::newRow("read-only") << QByteArray("read-only") << one << 1 << one << notUsing << 0;
        QTest::newRow("another user's file")
            << QByteArray("file owner") << one << 1 << one << notUsing << 0;
        QTest::newRow("another user's folder")
            << QByteArray("folder owner") << one << 0 << one << notUsing << 1;
        QTest::newRow("others may write")
            << QByteArray("folder mode") << one << 0 << one << notUsing << 1;
        QTest::newRow("a link another user made")
            << QByteArray("link") << one << 0 << one << notUsing << 1;
        QTest::newRow("writable list in a closed folder")
            << QByteArray("closed folder") << QByteArray("/music/a.mp3\r/music/b.mp3\r") << 2
            << QByteArray("/music/a.mp3\r\n/music/b.mp3\r\n") << QByteArray() << 0;
        QTest::newRow("could not be read")
            << QByteArray("unreadable") << QByteArray("/music/a.mp3\r\n") << 0
            << QByteArray("/music/a.mp3\r\n")
            << QByteArray("the playlist is not saved: \"%1\" could not be read at start") << 1;
        QByteArray cut, saved;
        for (int i = 0; i < 200; ++i)
            cut += "/music/track" + QByteArray::number(i).rightJustified(3, '0') + ".mp3\r\n";
        cut[4000] = '\0';
        const PathList read = SplitListText(cut.constData(), size_t(cut.size()));
        for (const QByteArray& line : read)
            saved += line + "\r\n";
        QTest::newRow("read only up to a NUL: kept whole beside it")
            << QByteArray("nul") << cut << int(read.size()) << saved
            << QByteArray("kept as \"%1.bak\"") << 1;
    }
    void aPlaylistItMayNotWriteOrReadIsKeptItMayWriteIsSaved() {
        QFETCH(QByteArray, how);
        QFETCH(QByteArray, old);
        QFETCH(int, entries);
        QFETCH(QByteArray, saved);
        QFETCH(QByteArray, log);
        QFETCH(int, logged);
        prepareNobody();
        // Where nothing may be written, the save at the end fails and its
        // box waits, as a save stuck on a dead mount would.
        const bool stuck = saved == "/music/a.mp3\r";
        QByteArray file = list_;
        if (how == "link") {
            file = home_ + "/../planted.plf";
            QVERIFY(::symlink(file.constData(), list_.constData()) == 0);
        }
        TestSupport::WriteFile(file, old);
        own(file, how == "file owner" || how == "folder owner" ? 0 : Nobody,
            how == "read-only"    ? 0444
            : how == "unreadable" ? 0
                                  : 0644);
        if (how == "folder owner")
            own(folder_, 0, 0755);
        if (how == "folder mode" || how == "closed folder")
            own(folder_, Nobody, how == "folder mode" ? 0777 : 0555);
        QProcess player;
        startAsNobody(player);
        if (how == "unreadable") {
            // "Cannot open file ..." at start, answered as the user would.
            const qulonglong main = waitForWindow(player, "Tolvane");
            const qulonglong box = waitForWindow(player, "Tolvane", main);
            QVERIFY(box);
            dismiss(player, box);
        }
        QVERIFY(waitForWindow(player, "Play List: " + QByteArray::number(entries) + " items"));
        if (stuck) {
            const qulonglong main = waitForWindow(player, "Tolvane");
            ::kill(pid_t(player.processId()), SIGTERM);
            // "Cannot create file ..." waits: a second signal ends it at once.
            QVERIFY(waitForWindow(player, "Tolvane", main));
            ::kill(pid_t(player.processId()), SIGTERM);
            QVERIFY(player.waitForFinished(30000));
            QCOMPARE(player.exitStatus(), QProcess::CrashExit);
        } else {
            player.terminate();
            // waitForFinished() fails on a process that has ended already.
            QVERIFY(player.state() == QProcess::NotRunning || player.waitForFinished(30000));
            QCOMPARE(player.exitStatus(), QProcess::NormalExit);
            QCOMPARE(player.exitCode(), 0);
        }
        if (!log.isEmpty())
            QCOMPARE(player.readAllStandardError().count(
                         log.replace("%1", list_).replace("%2", folder_)),
                     qsizetype(logged));
        if (how == "nul")
            QCOMPARE(readAll(list_ + ".bak"), old);
        QCOMPARE(readAll(list_), saved);
        QCOMPARE(readAll(file), saved);
        struct stat st {};
        QVERIFY(::stat(file.constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0222, how == "read-only" || how == "unreadable" ? 0 : 0200);
        if (how != "nul")
            QCOMPARE(entriesOf(folder_), QStringList{"PlayList.plf"});
    }
    void aSaveCutOffJustBeforeTheStartLeavesNothingBehind() {
        QVERIFY(QDir().mkpath(state.filePath(QStringLiteral("tolvane"))));
        const QByteArray folder = QFile::encodeName(state.filePath(QStringLiteral("tolvane")));
        TestSupport::WriteFile(QFile::encodeName(playlistPath()), "/music/a.mp3\r\n");
        // A save killed a moment ago, and one that another copy has under
        // way (or froze in): that one holds its file locked.
        const QByteArray killed = folder + "/.PlayList.plf.k1lled00";
        const QByteArray saving = folder + "/.PlayList.plf.saving00";
        TestSupport::WriteFile(killed, "/music/par");
        TestSupport::WriteFile(saving, "/music/b.mp3\r\n");
        const int lock = ::open(saving.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);
        QProcess player;
        start(player);
        // The playlist is read after the main window shows: its window's
        // caption counts the entry once it has been.
        QVERIFY(waitForWindow(player, "Play List: 1 items"));
        const bool killedLeft = QFile::exists(QFile::decodeName(killed));
        const bool savingLeft = QFile::exists(QFile::decodeName(saving));
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
        ::close(lock);
        QVERIFY(!killedLeft);
        QVERIFY(savingLeft);
        QCOMPARE(readAll(QFile::encodeName(playlistPath())), QByteArray("/music/a.mp3\r\n"));
    }

    // The children (the one that plays, the one kept ready, the testers) and
    // theirs are gone by the time the player's own process is: none is left
    // to end later, by the kernel's notice of the player's death or of its
    // own accord. The test adopts the player's orphans, so that one left
    // over stays visible here even after it has ended.
    void terminationLeavesNoChildBehind_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void terminationLeavesNoChildBehind() {
        QFETCH(int, signal);
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("needs the media of tools/with-test-env");
        QVERIFY(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        state.writePlaylist({});
        // A registry of GStreamer's own to build, as at the first start: the
        // children have plugin scanners of their own then.
        QTemporaryDir cache;
        QProcessEnvironment env = state.environment();
        env.insert(QStringLiteral("XDG_CACHE_HOME"), cache.path());
        QProcess player;
        TestSupport::StartProgram(
            player, env, {QFile::decodeName(TestSupport::Media(QStringLiteral("tone.wma")))});
        QVERIFY(waitForWindow(player, "Tolvane"));
        const pid_t pid = pid_t(player.processId());
        // Ended while a child builds GStreamer's registry (its plugin
        // scanner runs), or once one plays the file.
        QSet<pid_t> children;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                children = childrenOf(pid);
                for (pid_t child : children) {
                    const QByteArray command = commandOf(child);
                    if (command.contains("gst-plugin-scanner") || command.contains("--play"))
                        return true;
                }
                return false;
            }(),
            15000);
        QStringList seen;
        for (pid_t child : children)
            seen << QString::fromLocal8Bit(commandOf(child));
        qInfo("children: %s", qPrintable(seen.join(QLatin1String(", "))));
        ::kill(pid, signal);
        QVERIFY(player.waitForFinished(10000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QStringList left;
        for (pid_t child : children)
            if (QFile::exists(QStringLiteral("/proc/%1").arg(child)))
                left << QString::number(child) + QLatin1Char(' ') +
                            QString::fromLocal8Bit(commandOf(child));
        // What was left came to the test, which ends it.
        for (pid_t child : childrenOf(::getpid())) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1String(", "))));
    }

    // Given a file, the program starts the child that plays it (one that
    // loads FFmpeg, for a WMA), hands it the file to open at once, then
    // becomes the player, which goes by the name the user knows, where ps,
    // killall and system monitors look.
    void theProgramStartsTheFirstFilesChildAndKeepsItsName() {
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("needs the media of tools/with-test-env");
        QProcess player;
        TestSupport::StartProgram(player, state.environment(),
                                  {QFile::decodeName(TestSupport::Media("tone.wma"))});
        QByteArrayList playing;
        const auto started = [&] {
            playing.clear();
            for (pid_t child : childrenOf(pid_t(player.processId())))
                if (commandOf(child).contains("--play"))
                    playing.append(commandOf(child));
            return !playing.isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(started(), 10000);
        QCOMPARE(playing.size(), 1);
        // The child opens the file itself while the window starts.
        QVERIFY(playing[0].contains("--play " + QByteArray::number(player.processId()) +
                                    " --ffmpeg --open " + TestSupport::Media("tone.wma")));
        QVERIFY(waitForWindow(player, "Tolvane"));
        QFile command(QStringLiteral("/proc/%1/comm").arg(player.processId()));
        QVERIFY(command.open(QIODevice::ReadOnly));
        QCOMPARE(command.readAll(), QByteArray("tolvane\n"));
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
    }

    void firstRunStartsEmptyAndLeavesAnEmptyPlaylist() {
        QFile::remove(playlistPath());
        QProcess player;
        start(player);
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
        QCOMPARE(player.exitCode(), 0);
        QVERIFY(QFile::exists(playlistPath()));
        QCOMPARE(QFileInfo(playlistPath()).size(), 0);
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "tst_program.moc"
