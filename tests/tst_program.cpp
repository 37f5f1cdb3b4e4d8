// The program as a whole: started, fed its automatic playlist, ended.

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class ProgramTest : public QObject {
    Q_OBJECT

    QTemporaryDir state;

    QString playlistPath() const { return state.filePath(QStringLiteral("tolvane/PlayList.plf")); }

    // Starts the player with its own state folder and waits until its
    // windows exist (the playlist has been read by then).
    void start(QProcess& player) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player.start(QStringLiteral(TOLVANE_PROGRAM), QStringList());
        QVERIFY(player.waitForStarted());
        QTest::qWait(1500);
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
        QVERIFY(QDir().mkpath(state.filePath(QStringLiteral("tolvane"))));
        // Written back with CR LF, the bare CR line ends show that the
        // playlist was read and saved again.
        TestSupport::WriteFile(QFile::encodeName(playlistPath()),
                               "/music/a.mp3\r/music/b \xe9.wav\r");
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
