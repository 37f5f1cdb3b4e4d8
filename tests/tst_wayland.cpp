// The player in a Wayland session on a real compositor, weston's headless
// backend: an X client through XWayland where there is an X server, so that
// its windows go where it puts them; a native client with its main window in
// sight where there is none; a platform the user chose holds.

#include "TestProgram.h"
#include "XWindows.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// A top-level surface as weston stacks it.
struct View {
    QString title;
    QRect place;
};

class Weston {
public:
    ~Weston() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished();
        }
    }

    // A headless output of the given size; with XWayland, waits until its
    // X display is known.
    bool start(QSize output, bool xwayland) {
        // The compositor's socket lives in a runtime folder of its own; the
        // player finds it by its full path and keeps the test's runtime
        // folder, where its sound server is.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral("--backend=headless-backend.so"),
                              QStringLiteral("--socket=weston"), QStringLiteral("--idle-time=0"),
                              // Lets weston-debug read the scene graph.
                              QStringLiteral("--debug"),
                              QStringLiteral("--width=%1").arg(output.width()),
                              QStringLiteral("--height=%1").arg(output.height()),
                              QStringLiteral("--log=%1").arg(log())};
        if (xwayland)
            arguments << QStringLiteral("--xwayland");
        process_.start(QStringLiteral("weston"), arguments);
        if (!process_.waitForStarted())
            return false;
        const QRegularExpression listening(QStringLiteral("xserver listening on display (:\\d+)"));
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QFile file(log());
            const QString text =
                file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            const QRegularExpressionMatch match = listening.match(text);
            if (match.hasMatch())
                xDisplay_ = match.captured(1).toUtf8();
            if (QFile::exists(socket()) && (!xwayland || !xDisplay_.isEmpty()))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    QString socket() const { return runtime_.filePath(QStringLiteral("weston")); }
    QByteArray xDisplay() const { return xDisplay_; }

    // The player's top-level surfaces, the topmost first.
    QList<View> views() const {
        QProcess debug;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket());
        debug.setProcessEnvironment(env);
        debug.start(QStringLiteral("weston-debug"), {QStringLiteral("scene-graph")});
        if (!debug.waitForFinished(5000))
            debug.kill();
        const QString graph = QString::fromUtf8(debug.readAllStandardOutput());
        const QRegularExpression view(QStringLiteral(
            "top-level window '([^']*)' of tolvane.*\\n\\s*position: \\((-?\\d+), (-?\\d+)\\) "
            "-> \\((-?\\d+), (-?\\d+)\\)"));
        QList<View> views;
        for (const QRegularExpressionMatch& m : view.globalMatch(graph))
            views.append({m.captured(1),
                          QRect(QPoint(m.captured(2).toInt(), m.captured(3).toInt()),
                                QPoint(m.captured(4).toInt() - 1, m.captured(5).toInt() - 1))});
        return views;
    }

private:
    QString log() const { return runtime_.filePath(QStringLiteral("weston.log")); }

    QTemporaryDir runtime_;
    QProcess process_;
    QByteArray xDisplay_;
};

int indexOf(const QList<View>& views, const QString& title) {
    for (int i = 0; i < views.size(); ++i)
        if (views[i].title.startsWith(title))
            return i;
    return -1;
}

} // namespace

class WaylandTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char* tool : {"weston", "weston-debug", "Xwayland"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("needs weston and Xwayland");
    }

    void withAnXServerThePlayerIsAnXClient() {
        Weston weston;
        QVERIFY(weston.start({1280, 1024}, true));
        TestSupport::StateFolder state;
        QProcessEnvironment env = state.environment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), weston.socket());
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(weston.xDisplay()));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess player;
        TestSupport::StartProgram(player, env);
        TestSupport::XWindows x(weston.xDisplay());
        QVERIFY(x.connected());
        QTRY_VERIFY_WITH_TIMEOUT(x.find("Tolvane") && x.find("Play List"), 10000);
        QCOMPARE(indexOf(weston.views(), QStringLiteral("Tolvane")), -1);
        player.terminate();
        QVERIFY(player.waitForFinished(10000));

        // The user's choice of platform holds.
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        TestSupport::StartProgram(player, env);
        QTRY_VERIFY_WITH_TIMEOUT(indexOf(weston.views(), QStringLiteral("Tolvane")) >= 0, 10000);
        QVERIFY(!x.find("Tolvane"));
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
    }

    // Without an X server the compositor places the windows. On a screen
    // too small for the two side by side, the main window is still in full
    // sight.
    void withoutAnXServerTheMainWindowStaysInSight() {
        Weston weston;
        QVERIFY(weston.start({320, 480}, false));
        TestSupport::StateFolder state;
        QProcessEnvironment env = state.environment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), weston.socket());
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess player;
        TestSupport::StartProgram(player, env);
        QList<View> views;
        QTRY_VERIFY_WITH_TIMEOUT(
            (views = weston.views(), indexOf(views, QStringLiteral("Tolvane")) >= 0 &&
                                         indexOf(views, QStringLiteral("Play List")) >= 0),
            10000);
        QTest::qWait(500);
        QCOMPARE(player.state(), QProcess::Running);
        views = weston.views();
        const int main = indexOf(views, QStringLiteral("Tolvane"));
        QVERIFY(main >= 0);
        for (int above = 0; above < main; ++above)
            QVERIFY2(!views[above].place.intersects(views[main].place),
                     qPrintable(views[above].title + QStringLiteral(" covers the main window")));
        player.terminate();
        QVERIFY(player.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(WaylandTest)
#include "tst_wayland.moc"
