// The system volume: the level arithmetic, the sound server's default output,
// and the main window's volume bar working on it. The server cases run
// against the private PulseAudio of tools/with-test-env and read the results
// back with pactl, never touching the user's own sound server.

#include "TestProgram.h"
#include "TestSupport.h"

#include "platform/SoundServerVolume.h"
#include "player/Unit1.h"
#include "player/core/Volume.h"
#include "windows/Controls.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The default output's two channels in the server's own steps (65536 is
// 100%), as pactl reports them.
struct ServerChannels {
    quint32 left = 0;
    quint32 right = 0;
};

QString pactl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool setSinkVolume(quint32 left, quint32 right) {
    QProcess process;
    process.start(QStringLiteral("pactl"),
                  {QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"),
                   QString::number(left), QString::number(right)});
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

ServerChannels sinkVolume() {
    const QString text =
        pactl({QStringLiteral("get-sink-volume"), QStringLiteral("@DEFAULT_SINK@")});
    static const QRegularExpression channel(QStringLiteral("front-(left|right): (\\d+) /"));
    ServerChannels result;
    for (auto it = channel.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        (match.captured(1) == QLatin1String("left") ? result.left : result.right) =
            match.captured(2).toUInt();
    }
    return result;
}

// Tests that wait for the program allow this many times longer in a slower
// build (a sanitized one, say).
int timeScale() {
    bool ok = false;
    const int scale = qEnvironmentVariableIntValue("TOLVANE_TIME_SCALE", &ok);
    return ok && scale > 0 ? scale : 1;
}

// Points the sound server variable elsewhere for as long as it lives.
struct PulseServerOverride {
    explicit PulseServerOverride(const QByteArray& server) : saved_(qgetenv("PULSE_SERVER")) {
        qputenv("PULSE_SERVER", server);
    }
    ~PulseServerOverride() { qputenv("PULSE_SERVER", saved_); }

private:
    QByteArray saved_;
};

} // namespace

class VolumeTest : public QObject {
    Q_OBJECT

    bool serverReady_ = false;

    void requireServer() {
        if (!serverReady_)
            QSKIP("needs the private sound server of tools/with-test-env");
    }

private slots:
    void initTestCase() {
        // Only the private server of the test environment may be changed.
        serverReady_ = !qEnvironmentVariableIsEmpty("TOLVANE_TEST_MEDIA") &&
                       !qEnvironmentVariableIsEmpty("PULSE_SERVER") &&
                       !pactl({QStringLiteral("info")}).isEmpty();
    }

    // --- level arithmetic ---

    void levelGivesBothChannelsLevelTimes257() {
        QCOMPARE(DeviceVolumeOfLevel(0), 0u);
        QCOMPARE(DeviceVolumeOfLevel(255), 0xFFFFFFFFu);
        QCOMPARE(ChannelsOf(DeviceVolumeOfLevel(128)), (ChannelVolumes{32896, 32896}));
        for (int level = 0; level <= 255; ++level)
            QCOMPARE(DeviceVolumeOfLevel(level), quint32(level) * 16843009u);
    }

    void deviceVolumeHoldsLeftLowAndRightHigh() {
        QCOMPARE(DeviceVolume({0x1234, 0xABCD}), 0xABCD1234u);
        QCOMPARE(ChannelsOf(0xABCD1234u), (ChannelVolumes{0x1234, 0xABCD}));
    }

    void equalChannelsGiveChannelDividedBy257() {
        for (quint16 c : {0, 256, 257, 514, 32896, 65278, 65534, 65535})
            QCOMPARE(LevelOfDeviceVolume(DeviceVolume({c, c})), c / 257);
        for (int level = 0; level <= 255; ++level)
            QCOMPARE(LevelOfDeviceVolume(DeviceVolumeOfLevel(level)), level);
    }

    void unequalChannelsGiveWhatTheDivisionGives() {
        QCOMPARE(LevelOfDeviceVolume(DeviceVolume({65535, 0})), 0);
        QCOMPARE(LevelOfDeviceVolume(DeviceVolume({0, 65535})), 254);
    }

    void percentTextCutsTheFraction() {
        QCOMPARE(VolumePercentText(255), QStringLiteral("100%"));
        QCOMPARE(VolumePercentText(128), QStringLiteral("50%"));
        QCOMPARE(VolumePercentText(2), QStringLiteral("0%"));
        QCOMPARE(VolumePercentText(0), QStringLiteral("0%"));
    }

    void serverStepsMapFullChannelToHundredPercent() {
        QCOMPARE(ServerVolumeOfChannel(0), 0u);
        QCOMPARE(ServerVolumeOfChannel(65535), 65536u);
        QCOMPARE(ServerVolumeOfChannel(65278), 65279u);
        QCOMPARE(ChannelOfServerVolume(65536), quint16(65535));
        QCOMPARE(ChannelOfServerVolume(65536 * 3 / 2), quint16(65535)); // above 100%
    }

    void everyChannelVolumeComesBackFromTheServerUnchanged() {
        for (int c = 0; c <= 65535; ++c)
            QCOMPARE(ChannelOfServerVolume(ServerVolumeOfChannel(quint16(c))), quint16(c));
    }

    // --- the sound server ---

    void readsTheDefaultOutputsChannels() {
        requireServer();
        QVERIFY(setSinkVolume(0, 65536));
        SoundServerVolume mixer;
        QVERIFY(mixer.IsAvailable());
        QCOMPARE(mixer.Read(), std::optional(ChannelVolumes{0, 65535}));
        QVERIFY(setSinkVolume(32897, 16384));
        QCOMPARE(mixer.Read(), std::optional(ChannelVolumes{32896, 16384}));
    }

    void writesBothChannels() {
        requireServer();
        SoundServerVolume mixer;
        QVERIFY(mixer.Write({65535, 0}));
        QCOMPARE(sinkVolume().left, 65536u);
        QCOMPARE(sinkVolume().right, 0u);
        QVERIFY(mixer.Write({65278, 65278}));
        QCOMPARE(sinkVolume().left, 65279u);
        QCOMPARE(sinkVolume().right, 65279u);
    }

    void missingServerReadsAsNoOutput() {
        PulseServerOverride gone("unix:/nonexistent/tolvane-test/pulse.sock");
        SoundServerVolume mixer;
        QVERIFY(!mixer.IsAvailable());
        QVERIFY(!mixer.Read());
        QVERIFY(!mixer.Write({65535, 65535}));
    }

    // --- the volume bar ---

    // The bar starts from the system volume and leaves it as it is.
    void startWithEqualChannelsSetsBarAndWritesNothing() {
        requireServer();
        QVERIFY(setSinkVolume(ServerVolumeOfChannel(32896), ServerVolumeOfChannel(32896)));
        TForm1 form;
        QCOMPARE(form.ScrollBar1->value(), 128);
        QCOMPARE(form.Panel3->text(), QStringLiteral("50%"));
        QCOMPARE(sinkVolume().left, ServerVolumeOfChannel(32896));
        QCOMPARE(sinkVolume().right, ServerVolumeOfChannel(32896));
    }

    void startWithLeftFullAndRightSilentGivesLevelZeroAndWritesNothing() {
        requireServer();
        QVERIFY(setSinkVolume(65536, 0));
        TForm1 form;
        QCOMPARE(form.ScrollBar1->value(), 0);
        QCOMPARE(form.Panel3->text(), QStringLiteral("0%"));
        QCOMPARE(sinkVolume().left, 65536u);
        QCOMPARE(sinkVolume().right, 0u);
    }

    void startWithLeftSilentAndRightFullSetsBarTo254AndWritesNothing() {
        requireServer();
        QVERIFY(setSinkVolume(0, 65536));
        TForm1 form;
        QCOMPARE(form.ScrollBar1->value(), 254);
        QCOMPARE(form.Panel3->text(), QStringLiteral("99%"));
        QCOMPARE(sinkVolume().left, 0u);
        QCOMPARE(sinkVolume().right, 65536u);
    }

    // The bar follows a change made elsewhere, and a key steps from there.
    void barFollowsAnOutsideChangeAndKeysStepFromIt() {
        requireServer();
        QVERIFY(setSinkVolume(39321, 39321));
        TForm1 form;
        QCOMPARE(form.ScrollBar1->value(), 152);
        QVERIFY(setSinkVolume(16384, 16384)); // 25%
        QTRY_COMPARE_WITH_TIMEOUT(form.ScrollBar1->value(), 63, 500 * timeScale());
        QCOMPARE(form.Panel3->text(), QStringLiteral("24%"));
        QCOMPARE(sinkVolume().left, 16384u); // following writes nothing
        form.Vol1Click();
        QCOMPARE(form.ScrollBar1->value(), 65);
        QCOMPARE(sinkVolume().left, ServerVolumeOfChannel(65 * 257));
        QCOMPARE(sinkVolume().right, ServerVolumeOfChannel(65 * 257));
        // Its own write comes back as a change, which leaves the bar alone.
        QTest::qWait(300);
        QCOMPARE(form.ScrollBar1->value(), 65);
    }

    // The real program: starting it changes nothing; afterwards the bar
    // follows an outside change, so that Up steps from the new volume.
    void programLeavesTheVolumeAtStartAndStepsFromAnOutsideChange() {
        requireServer();
        if (qEnvironmentVariableIsEmpty("DISPLAY") ||
            QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs the virtual display of tools/with-test-env and xdotool");
        QVERIFY(setSinkVolume(39321, 39321));
        TestSupport::StateFolder state;
        QProcess player;
        TestSupport::StartProgram(player, state.environment());
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--sync"),
                      QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                      QString::number(player.processId()), QStringLiteral("--name"),
                      QStringLiteral("^Tolvane$")});
        QVERIFY(search.waitForFinished(30000));
        const QString window =
            QString::fromLatin1(search.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0);
        QVERIFY(!window.isEmpty());
        QTest::qWait(1000);
        QCOMPARE(sinkVolume().left, 39321u);
        QCOMPARE(sinkVolume().right, 39321u);

        QVERIFY(setSinkVolume(16384, 16384));
        QTest::qWait(500 * timeScale());
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window,
                           QStringLiteral("key"), QStringLiteral("Up")});
        QTRY_COMPARE_WITH_TIMEOUT(sinkVolume().left, ServerVolumeOfChannel(65 * 257), 5000);
        QCOMPARE(sinkVolume().right, ServerVolumeOfChannel(65 * 257));
        player.terminate();
        QVERIFY(player.waitForFinished(20000));
    }

    void fullAndSilentLevelsReachTheServer() {
        requireServer();
        QVERIFY(setSinkVolume(30000, 30000));
        TForm1 form;
        form.ScrollBar1->setValue(255);
        QCOMPARE(form.Panel3->text(), QStringLiteral("100%"));
        QCOMPARE(sinkVolume().left, 65536u);
        QCOMPARE(sinkVolume().right, 65536u);
        form.ScrollBar1->setValue(0);
        QCOMPARE(form.Panel3->text(), QStringLiteral("0%"));
        QCOMPARE(sinkVolume().left, 0u);
        QCOMPARE(sinkVolume().right, 0u);
    }

    void upStopsAtFullAndWritesOnlyOnChange() {
        requireServer();
        QVERIFY(setSinkVolume(0, 65536)); // starts at 254
        TForm1 form;
        form.Vol1Click();
        QCOMPARE(form.ScrollBar1->value(), 255);
        QCOMPARE(sinkVolume().left, 65536u);
        // At full, Up changes nothing, so a volume set elsewhere stays.
        QVERIFY(setSinkVolume(1000, 1000));
        form.Vol1Click();
        QCOMPARE(form.ScrollBar1->value(), 255);
        QCOMPARE(sinkVolume().left, 1000u);
    }

    void downTwiceFromThreeGivesOneThenSilence() {
        requireServer();
        QVERIFY(setSinkVolume(ServerVolumeOfChannel(3 * 257), ServerVolumeOfChannel(3 * 257)));
        TForm1 form;
        QCOMPARE(form.ScrollBar1->value(), 3);
        form.Volmin1Click();
        QCOMPARE(form.ScrollBar1->value(), 1);
        QCOMPARE(sinkVolume().left, ServerVolumeOfChannel(257));
        form.Volmin1Click();
        QCOMPARE(form.ScrollBar1->value(), 0);
        QCOMPARE(sinkVolume().left, 0u);
        QCOMPARE(sinkVolume().right, 0u);
        QVERIFY(setSinkVolume(500, 500));
        form.Volmin1Click(); // at 0 nothing changes and nothing is written
        QCOMPARE(form.ScrollBar1->value(), 0);
        QCOMPARE(sinkVolume().left, 500u);
    }

    void barStepsByOneOnArrowsAndBesideTheThumb() {
        PulseServerOverride gone("unix:/nonexistent/tolvane-test/pulse.sock");
        TForm1 form;
        QCOMPARE(form.ScrollBar1->minimum(), 0);
        QCOMPARE(form.ScrollBar1->maximum(), 255);
        QCOMPARE(form.ScrollBar1->singleStep(), 1);
        QCOMPARE(form.ScrollBar1->pageStep(), 1);
    }

    void withoutServerBarStartsAtZeroSilently() {
        TestSupport::MessageRecorder recorder;
        PulseServerOverride gone("unix:/nonexistent/tolvane-test/pulse.sock");
        TForm1 form;
        QCOMPARE(form.ScrollBar1->value(), 0);
        QCOMPARE(form.Panel3->text(), QStringLiteral("0%"));
        form.Vol1Click(); // the bar still moves; there is just nothing to set
        QCOMPARE(form.ScrollBar1->value(), 2);
        QCOMPARE(form.Panel3->text(), QStringLiteral("0%"));
        QVERIFY(recorder.messages.isEmpty());
        QVERIFY(recorder.errors.isEmpty());
    }
};

QTEST_MAIN(VolumeTest)
#include "tst_volume.moc"
