// The group boxes of the file info and alarm windows, checked on pictures of
// the windows as shown: the frame's top line runs through the caption, high
// enough that the first row of controls (16 pixels down) sits inside it.
// With TOLVANE_SCREENSHOTS set to a folder the pictures are kept there.

#include "TestWindows.h"

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

void checkBox(QGroupBox* box, const QColor& ground) {
    const QImage picture = box->grab().toImage();
    // The frame's top line: the first row differing from the ground right of
    // every control, left of the frame's right edge.
    int line = -1;
    for (int y = 0; y < picture.height() && line < 0; ++y)
        if (picture.pixelColor(box->width() - 4, y) != ground)
            line = y;
    QVERIFY2(line >= 0, "no frame drawn");
    int firstRow = box->height();
    for (const QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        firstRow = std::min(firstRow, child->y());
    QCOMPARE(firstRow, 16);
    QVERIFY2(
        line < firstRow - 2,
        qPrintable(QStringLiteral("frame line at %1, controls at %2").arg(line).arg(firstRow)));
    // The caption is drawn over the line: its letters reach above and below it.
    int top = -1, bottom = -1;
    const int to = 8 + box->fontMetrics().horizontalAdvance(box->title());
    for (int y = 0; y < 16; ++y)
        for (int x = 8; x < to; ++x)
            if (y != line && picture.pixelColor(x, y) != ground) {
                top = top < 0 ? y : top;
                bottom = y;
                break;
            }
    QVERIFY2(
        top >= 0 && top < line && bottom > line,
        qPrintable(
            QStringLiteral("caption rows %1..%2, frame line %3").arg(top).arg(bottom).arg(line)));
}

} // namespace

class GroupBoxTest : public QObject {
    Q_OBJECT

private slots:
    void controlsSitInsideTheFrameUnderTheCaption() {
        TestSupport::PlaylistWindow f2;
        f2.AppendEntry("/nowhere/A title of thirty letters.mp3");
        f2.RenumberList();
        f2.SetCurrentIndex(0);
        f2.Viewfileinfo1Click();
        auto* info = f2.findChild<TForm4*>();
        QVERIFY(info);
        QVERIFY(QTest::qWaitForWindowExposed(info));
        keep(info, QStringLiteral("fileinfo"));
        checkBox(info->GroupBox1, WindowGreen);

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
