// How the group boxes of the file info and alarm windows look: the frame's
// top line runs through the caption, high enough that the first row of
// controls (16 pixels down the box) sits inside the frame, as the windows'
// layouts were drawn. Checked on pictures of the windows as they are shown;
// with TOLVANE_SCREENSHOTS set to a folder the pictures are kept there.

#include "player/Unit1.h"
#include "playlist/Unit2.h"
#include "trackinfo/Unit4.h"
#include "windows/Controls.h"
#include "windows/Unit5.h"

#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QTest>

namespace {

void keep(QWidget* window, const QString& name) {
    const QString folder = qEnvironmentVariable("TOLVANE_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// The first row, from the top, of the box's picture whose pixel in column x
// differs from the ground the box stands on: the frame's top line.
int frameTop(const QImage& picture, int x, const QColor& ground) {
    for (int y = 0; y < picture.height(); ++y)
        if (picture.pixelColor(x, y) != ground)
            return y;
    return -1;
}

// The rows of the box's picture in which the caption draws, between the
// columns `from` and `to`.
QPair<int, int> captionRows(const QImage& picture, int from, int to, const QColor& ground,
                            int frameLine) {
    int top = -1, bottom = -1;
    for (int y = 0; y < 16; ++y)
        for (int x = from; x < to; ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (c != ground && y != frameLine) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
        }
    return {top, bottom};
}

void checkBox(QGroupBox* box, const QColor& ground) {
    const QImage picture = box->grab().toImage();
    // Right of every control, left of the frame's right edge.
    const int line = frameTop(picture, box->width() - 4, ground);
    QVERIFY2(line >= 0, "no frame drawn");
    int firstRow = box->height();
    for (const QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        firstRow = std::min(firstRow, child->y());
    QCOMPARE(firstRow, 16);
    QVERIFY2(
        line < firstRow - 2,
        qPrintable(QStringLiteral("frame line at %1, controls at %2").arg(line).arg(firstRow)));
    // The caption is drawn over the line: its letters reach above and below it.
    const auto [top, bottom] = captionRows(
        picture, 8, 8 + box->fontMetrics().horizontalAdvance(box->title()), ground, line);
    QVERIFY2(
        top >= 0 && top < line && bottom > line,
        qPrintable(
            QStringLiteral("caption rows %1..%2, frame line %3").arg(top).arg(bottom).arg(line)));
}

} // namespace

class GroupBoxTest : public QObject {
    Q_OBJECT

private slots:
    void fileInfoControlsSitInsideTheFrameUnderTheCaption() {
        TForm1 f1;
        TForm2 f2(&f1);
        f2.AppendEntry("/nowhere/A title of thirty letters.mp3");
        f2.RenumberList();
        f2.SetCurrentIndex(0);
        f2.Viewfileinfo1Click();
        auto* info = f2.findChild<TForm4*>();
        QVERIFY(info);
        QVERIFY(QTest::qWaitForWindowExposed(info));
        keep(info, QStringLiteral("fileinfo"));
        checkBox(info->GroupBox1, WindowGreen);
    }

    void alarmControlsSitInsideTheFrameUnderTheCaption() {
        TForm5 f5;
        f5.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f5));
        f5.Timer1Timer();
        keep(&f5, QStringLiteral("alarm"));
        checkBox(f5.GroupBox1, WindowGreen);
    }
};

QTEST_MAIN(GroupBoxTest)
#include "tst_groupboxes.moc"
