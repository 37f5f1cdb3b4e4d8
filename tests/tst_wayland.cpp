// The player in a Wayland session on a real compositor, weston's headless
// backend with XWayland: where an X server is at hand the player is its
// client, so that its windows go where it puts them.

#include "TestProgram.h"
#include "XWindows.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class WaylandTest : public QObject {
    Q_OBJECT
private slots:
    void withAnXServerThePlayerIsAnXClient() {
        for (const char* tool : {"weston", "Xwayland"})
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
        weston.start(QStringLiteral("weston"),
                     {QStringLiteral("--backend=headless-backend.so"),
                      QStringLiteral("--socket=weston"), QStringLiteral("--xwayland"),
                      QStringLiteral("--log=") + log});
        const QRegularExpression listening(QStringLiteral("xserver listening on display (:\\d+)"));
        QString xDisplay;
        for (QDeadlineTimer deadline(10000); xDisplay.isEmpty() && !deadline.hasExpired();
             QTest::qWait(50)) {
            QFile file(log);
            if (file.open(QIODevice::ReadOnly))
                xDisplay = listening.match(QString::fromUtf8(file.readAll())).captured(1);
        }
        QVERIFY(!xDisplay.isEmpty());

        TestSupport::StateFolder state;
        QProcessEnvironment env = state.environment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), runtime.filePath(QStringLiteral("weston")));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("DISPLAY"), xDisplay);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess player;
        TestSupport::StartProgram(player, env);
        TestSupport::XWindows x(xDisplay.toLatin1());
        QVERIFY(x.connected());
        QTRY_VERIFY_WITH_TIMEOUT(x.find("Tolvane") && x.find("Play List"), 10000);
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
        weston.terminate();
        weston.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(WaylandTest)
#include "tst_wayland.moc"
