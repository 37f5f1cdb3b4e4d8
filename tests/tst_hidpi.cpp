#include "player/Unit1.h"
#include "windows/Controls.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <cstdlib>

// The windows on a screen of twice the usual density: every picture must be
// the one drawn at twice the size, not the usual one blown up.
class HiDpiTest : public QObject {
    Q_OBJECT

    // The mean difference per colour channel between `shot` at `at` and the
    // opaque pixels of `picture`; -1 when the picture does not fit there.
    static double difference(const QImage& shot, const QImage& picture, QPoint at) {
        if (!shot.rect().contains(QRect(at, picture.size())))
            return -1;
        qint64 sum = 0, count = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb want = picture.pixel(x, y);
                if (qAlpha(want) != 255)
                    continue;
                const QRgb got = shot.pixel(at.x() + x, at.y() + y);
                sum += std::abs(qRed(got) - qRed(want)) + std::abs(qGreen(got) - qGreen(want)) +
                       std::abs(qBlue(got) - qBlue(want));
                count += 3;
            }
        return count ? double(sum) / double(count) : -1;
    }

    // The best match of `picture` anywhere in `shot`.
    static double bestDifference(const QImage& shot, const QImage& picture) {
        double best = 1e9;
        for (int y = 0; y + picture.height() <= shot.height(); ++y)
            for (int x = 0; x + picture.width() <= shot.width(); ++x) {
                const double d = difference(shot, picture, QPoint(x, y));
                if (d >= 0 && d < best)
                    best = d;
            }
        return best;
    }

private slots:
    void transportButtonsShowTheDoubleSizeDrawing() {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        TForm1 f1;
        f1.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f1));

        const QImage shot = f1.Play->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), f1.Play->size() * 2);
        const QImage sharp =
            QImage(QStringLiteral(":/play@2x.png")).convertToFormat(QImage::Format_ARGB32);
        const QImage soft =
            QImage(QStringLiteral(":/play.png"))
                .scaled(sharp.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_ARGB32);

        // The button shows the doubled drawing pixel for pixel, and that is
        // told apart from the usual picture blown up.
        const double toSharp = bestDifference(shot, sharp);
        const double toSoft = bestDifference(shot, soft);
        QVERIFY2(toSharp < 1.0, qPrintable(QString::number(toSharp)));
        QVERIFY2(toSoft > 3 * toSharp + 1.0, qPrintable(QString::number(toSoft)));
    }

    void picturesKeepTheirPlaceAndSize() {
        TForm1 f1;
        const QPixmap background = DesignPicture(QStringLiteral(":/background.jpg"));
        QCOMPARE(background.devicePixelRatio(), 2.0);
        QCOMPARE(background.deviceIndependentSize().toSize(),
                 DesignPicture(QStringLiteral(":/background.jpg")).size() / 2);
        QCOMPARE(f1.Play->iconSize(), QSize(28, 28));
    }
};

int main(int argc, char* argv[]) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    HiDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
