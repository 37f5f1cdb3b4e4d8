// The player in a Wayland session on a real compositor, weston's headless
// backend: where an X server is at hand (XWayland) the player is its client,
// so that its windows go where it puts them; without one it runs natively,
// and its main window is not stacked under the playlist window.

#include "TestProgram.h"
#include "XWindows.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

static QStringList TopLevels(const QString& socket, const QRegularExpression& surface) {
    QProcess debug;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    debug.setProcessEnvironment(env);
    debug.start(QStringLiteral("weston-debug"), {QStringLiteral("scene-graph")});
    debug.waitForFinished(5000);
    QStringList titles;
    for (const QRegularExpressionMatch& m :
         surface.globalMatch(QString::fromUtf8(debug.readAllStandardOutput())))
        titles << m.captured(1);
    return titles;
}

class WaylandTest : public QObject {
    Q_OBJECT
private slots:
    void aWaylandSessionKeepsTheWindowsInPlace_data() {
        QTest::addColumn<bool>("xwayland");
        QTest::newRow("XWayland") << true;
        QTest::newRow("native") << false;
    }
    void aWaylandSessionKeepsTheWindowsInPlace() {
        QFETCH(bool, xwayland);
        for (const char* tool : {"weston", "weston-debug", "Xwayland"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("needs weston and Xwayland");
        // The compositor's socket lives in a runtime folder of its own; the
        // player finds it by its full path.
        QTemporaryDir runtime;
        const QString log = runtime.filePath(QStringLiteral("weston.log"));
        QProcess weston;
        QProcessEnvironment westonEnv = QProcessEnvironment::systemEnvironment();
        westonEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        westonEnv.remove(QStringLiteral("DISPLAY"));
        weston.setProcessEnvironment(westonEnv);
        QStringList arguments{QStringLiteral("--backend=headless-backend.so"),
                              QStringLiteral("--socket=weston"), QStringLiteral("--debug"),
                              QStringLiteral("--log=") + log};
        if (xwayland)
            arguments << QStringLiteral("--xwayland");
        weston.start(QStringLiteral("weston"), arguments);
        const QRegularExpression listening(QStringLiteral("xserver listening on display (:\\d+)"));
        QString xDisplay;
        const QString socket = runtime.filePath(QStringLiteral("weston"));
        for (QDeadlineTimer deadline(10000);
             (xwayland ? xDisplay.isEmpty() : !QFile::exists(socket)) && !deadline.hasExpired();
             QTest::qWait(50)) {
            QFile file(log);
            if (file.open(QIODevice::ReadOnly))
                xDisplay = listening.match(QString::fromUtf8(file.readAll())).captured(1);
        }
        QVERIFY(xwayland ? !xDisplay.isEmpty() : QFile::exists(socket));

        TestSupport::StateFolder state;
        QProcessEnvironment env = state.environment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        if (xwayland)
            env.insert(QStringLiteral("DISPLAY"), xDisplay);
        else
            env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess player;
        TestSupport::StartProgram(player, env);
        if (xwayland) {
            TestSupport::XWindows x(xDisplay.toLatin1());
            QTRY_VERIFY_WITH_TIMEOUT(x.find("Tolvane") && x.find("Play List"), 10000);
        } else {
            // The player's top-level surfaces as weston stacks them, the
            // topmost first: the main window, once both are there.
            const QRegularExpression surface(
                QStringLiteral("top-level window '([^']*)' of tolvane"));
            QTRY_VERIFY_WITH_TIMEOUT(TopLevels(socket, surface).size() >= 2, 10000);
            QTest::qWait(500);
            QCOMPARE(TopLevels(socket, surface).value(0), QStringLiteral("Tolvane"));
        }
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
        weston.terminate();
        weston.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(WaylandTest)
#include "tst_wayland.moc"
