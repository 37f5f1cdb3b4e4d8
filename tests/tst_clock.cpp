#include "player/core/Clock.h"

#include <QTest>

class ClockTest : public QObject {
    Q_OBJECT
private slots:
    void clockWritesMinutesAndSecondsWithTwoDigitsAtLeast() {
        QCOMPARE(Clock(0), QStringLiteral("00:00"));
        QCOMPARE(Clock(65000), QStringLiteral("01:05"));
        QCOMPARE(Clock(754999), QStringLiteral("12:34"));
        QCOMPARE(Clock(7500000), QStringLiteral("125:00"));
        QCOMPARE(Clock(6000000), QStringLiteral("100:00"));
    }
    void timeTextsCarryTheirBlankAndMinusSign() {
        QCOMPARE(ElapsedText(65000), QStringLiteral("01:05 "));
        QCOMPARE(RemainingText(265500, 65000), QStringLiteral("- 03:20 "));
    }
    void fifteenCharacterNameStandsStill() {
        const QString text = MarqueeTextFor("/music/abcdefghijk.mp3"); // 15 characters
        QCOMPARE(text, QStringLiteral("abcdefghijk.mp3"));
        QCOMPARE(RotateMarquee(text), text);
    }
    void sixteenCharacterNameScrollsBackAfterTwentyOneTicks() {
        const QString first = MarqueeTextFor("/music/Band: ghijkl.mp3");
        QCOMPARE(first, QStringLiteral("Band: ghijkl.mp3 *** "));
        QString text = first;
        for (int tick = 1; tick <= 21; ++tick) {
            text = RotateMarquee(text);
            if (tick < 21)
                QVERIFY(text != first);
        }
        QCOMPARE(text, first);
    }
    void percentOfZeroLengthFails() { QVERIFY_THROWS_EXCEPTION(std::exception, PercentOf(0, 0)); }
};

QTEST_APPLESS_MAIN(ClockTest)
#include "tst_clock.moc"
