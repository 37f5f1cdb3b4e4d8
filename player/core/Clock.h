#pragma once

#include <QByteArray>
#include <QString>

// Minutes and seconds of a time in milliseconds, each at least two digits:
// 65000 -> "01:05", 7500000 -> "125:00".
QString Clock(qint64 ms);

// The time text of the two time panels: elapsed as "01:05 ", remaining as
// "- 03:20 ".
QString ElapsedText(qint64 positionMs);
QString RemainingText(qint64 lengthMs, qint64 positionMs);

// The scrolling title of a track: its file name, with " *** " appended when
// the name is longer than the panel shows without scrolling.
constexpr int MarqueeWidth = 15;
QString MarqueeTextFor(const QByteArray& fileName);

// One step of the marquee: a text longer than MarqueeWidth moves its first
// character to the end; a shorter one stands still.
QString RotateMarquee(const QString& text);

// Whole percent of part in whole, fraction cut off; throws when whole is 0
// (the caller treats that as a failed tick).
int PercentOf(qint64 part, qint64 whole);
