// The player's controller as the desktop uses it: commands carried out one
// at a time, merged while a track change waits, and signals sent where the
// windows change the state.

#include "TestSupport.h"

#include "player/PlayerControl.h"
#include "player/Unit1.h"
#include "playlist/Unit2.h"

#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

using TestSupport::Media;
using State = PlayerControl::PlaybackState;

class PlayerControlTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<PlayerControl> control;

private slots:
    void init() {
        form1 = std::make_unique<TForm1>();
        form2 = std::make_unique<TForm2>(form1.get());
        form1->show();
        control = std::make_unique<PlayerControl>(*form1);
        for (const char* name : {"tone.mp3", "tone.wav", "tone.wma", "long.mp3"})
            form2->AppendEntry(Media(QString::fromLatin1(name)));
        form2->SetCurrentIndex(0);
    }
    void cleanup() {
        control.reset();
        form2.reset();
        form1.reset();
    }

    void requestsDuringATrackChangeAreMergedIntoOneMore() {
        QSignalSpy tracks(control.get(), &PlayerControl::trackChanged);
        // Halfway through the first change's delay, five Next, one Previous
        // and two Play come.
        bool sent = false;
        connect(form1->ProgressBar1, &QProgressBar::valueChanged, this, [&](int step) {
            if (step != 50 || sent)
                return;
            sent = true;
            for (int i = 0; i < 5; ++i)
                control->Next();
            control->Previous();
            control->Play();
            control->Play();
        });
        control->Next();
        QVERIFY(tracks.isEmpty()); // carried out from the event loop
        QTRY_COMPARE(tracks.size(), 2);
        QTest::qWait(200);
        QCOMPARE(tracks.size(), 2);
        QCOMPARE(form2->CurrentIndex(), 1); // 1 + 5 - 1 steps from the first of four
        QCOMPARE(control->TrackPath(), Media(QStringLiteral("tone.wav")));
        QCOMPARE(control->State(), State::Playing);
    }

    void keysAreToldAndSeeksStayInsideTheTrack() {
        QSignalSpy states(control.get(), &PlayerControl::playbackStateChanged);
        QSignalSpy jumps(control.get(), &PlayerControl::positionJumped);
        form2->SetCurrentIndex(3);
        form1->PlayCurrentEntry();
        QCOMPARE(control->State(), State::Playing);
        QVERIFY(control->Length() >= 12000 && control->Length() < 12100);
        states.clear();

        form1->SpeedButton2Click(); // Pause
        QCOMPARE(states.size(), 1);
        QCOMPARE(control->State(), State::Paused);
        form1->Pos1Click();
        QCOMPARE(jumps.size(), 1);
        const qint64 target = jumps.last().first().toLongLong();
        QVERIFY(target >= 5000 && target < 6000);

        // A place outside the track is not sought; one inside is, and told.
        control->SeekTo(13000);
        control->SeekTo(-1);
        QTest::qWait(100);
        QCOMPARE(jumps.size(), 1);
        control->SeekTo(2000);
        QTRY_COMPARE(jumps.size(), 2);
        QCOMPARE(jumps.last().first().toLongLong(), 2000);
        QCOMPARE(control->State(), State::Paused);
        // Beyond the end by a relative seek: the next track (the first).
        control->SeekBy(20000);
        QTRY_COMPARE(control->TrackPath(), Media(QStringLiteral("tone.mp3")));
        QCOMPARE(control->State(), State::Playing);

        control->Stop();
        QTRY_COMPARE(control->State(), State::Stopped);
        QCOMPARE(control->Position(), qint64(0));
    }

    void playOrderTakesEffectAtOnceAndIsTold() {
        QSignalSpy order(control.get(), &PlayerControl::playOrderChanged);
        control->SetPlayOrder(2);
        QCOMPARE(control->PlayOrder(), 2);
        form1->Shuffle1Click(); // the key, too
        QCOMPARE(order.size(), 2);
        QCOMPARE(order.last().first().toInt(), 1);
    }
};

QTEST_MAIN(PlayerControlTest)
#include "tst_playercontrol.moc"
