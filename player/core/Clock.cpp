#include "player/core/Clock.h"

#include "platform/PathNames.h"

#include <stdexcept>

static QString twoDigits(qint64 n) {
    return n < 10 ? QStringLiteral("0") + QString::number(n) : QString::number(n);
}

QString Clock(qint64 ms) {
    qint64 s = ms / 1000;
    const qint64 m = s / 60;
    s -= 60 * m;
    return twoDigits(m) + QStringLiteral(":") + twoDigits(s);
}

QString ElapsedText(qint64 positionMs) { return Clock(positionMs) + QStringLiteral(" "); }

QString RemainingText(qint64 lengthMs, qint64 positionMs) {
    return QStringLiteral("- ") + Clock(lengthMs - positionMs) + QStringLiteral(" ");
}

QString MarqueeTextFor(const QByteArray& fileName) {
    QString name = PathText(DisplayName(fileName));
    if (name.size() > MarqueeWidth)
        name += QStringLiteral(" *** ");
    return name;
}

QString RotateMarquee(const QString& text) {
    if (text.size() <= MarqueeWidth)
        return text;
    return text.mid(1) + text.at(0);
}

int PercentOf(qint64 part, qint64 whole) {
    if (whole == 0)
        throw std::domain_error("Invalid floating point operation");
    return int(double(part) / double(whole) * 100.0);
}
