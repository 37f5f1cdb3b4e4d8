// The playlist window itself: where it opens, its layout and looks, its
// menus and how they open, the order in which keys are looked up, and the
// window commands "Go to file's folder", "Refresh", resizing and closing.

#include "TestSupport.h"
#include "TestWindows.h"

#include "platform/DesktopServices.h"
#include "player/Program.h"
#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"

#include <QContextMenuEvent>
#include <QGroupBox>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

namespace {

constexpr auto& fill = TestSupport::Fill;

QList<QByteArray> tracks(int count) {
    QList<QByteArray> paths;
    for (int i = 0; i < count; ++i)
        paths << "/music/t" + QByteArray::number(i) + ".mp3";
    return paths;
}

// The captions of a menu, separators as "-", a disabled item marked "(off)"
// and a checked one "(on)".
QStringList captions(const QMenu* menu) {
    QStringList out;
    for (const QAction* item : menu->actions()) {
        QString text = item->isSeparator() ? QStringLiteral("-") : item->text();
        if (!item->isEnabled())
            text += QStringLiteral(" (off)");
        if (item->isCheckable() && item->isChecked())
            text += QStringLiteral(" (on)");
        out << text;
    }
    return out;
}

QAction* itemOf(const QMenu* menu, const QString& caption) {
    for (QAction* item : menu->actions())
        if (item->text() == caption)
            return item;
    return nullptr;
}

bool activate(QWidget& window) {
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

QSize outerSize(const QWidget& window) {
    return window.frameGeometry().size();
}

// Records the requests for the desktop's programs instead of starting them.
struct DesktopRequests {
    DesktopRequests() {
        SetDesktopRecorder([this](const QString& action, const QByteArray& argument) {
            requests << action + QLatin1Char(' ') + QString::fromLatin1(argument);
        });
    }
    ~DesktopRequests() { SetDesktopRecorder(nullptr); }
    QStringList requests;
};

} // namespace

class PlaylistWindowTest : public QObject {
    Q_OBJECT
private slots:
    // --- placement, layout and looks ---

    void opensDirectlyBelowTheMainWindowWithItsWidth() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&f2));
        QVERIFY(f2.isVisible());
        const QRect main = f1.frameGeometry(), list = f2.frameGeometry();
        QCOMPARE(list.left(), main.left());
        QCOMPARE(list.top(), main.top() + main.height());
        QCOMPARE(list.width(), main.width());
        QCOMPARE(f2.height(), 332);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 0 items"));
    }

    void listFillsTheWindowAndTheButtonsSitAlongTheBottom() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        const auto check = [&f2] {
            const int w = f2.width(), h = f2.height();
            QCOMPARE(f2.ListB->geometry(), QRect(4, 4, w - 5, h - 31));
            QCOMPARE(f2.lirik->geometry(), QRect(4, 4, w - 7, h - 32));
            const QList<QPair<TSpeedButton*, QRect>> buttons{
                {f2.Add, QRect(8, h - 26, 33, 25)},
                {f2.Rem, QRect(40, h - 26, 33, 25)},
                {f2.SpeedButton1, QRect(72, h - 26, 33, 25)},
                {f2.List, QRect(104, h - 26, 33, 25)},
                {f2.SpeedButton2, QRect(144, h - 26, 41, 25)}};
            for (const auto& [button, place] : buttons)
                QCOMPARE(button->geometry(), place);
            QCOMPARE(f2.Panel1->geometry(), QRect(192, h - 26, w - 201, 25));
        };
        check();
        f2.resize(500, 420);
        QCOMPARE(f2.size(), QSize(500, 420));
        check();
        QCOMPARE(f2.Add->text(), QStringLiteral("&Add"));
        QCOMPARE(f2.Rem->text(), QStringLiteral("&Clear"));
        QCOMPARE(f2.SpeedButton1->text(), QStringLiteral("&Sel"));
        QCOMPARE(f2.List->text(), QStringLiteral("&List"));
        QCOMPARE(f2.SpeedButton2->text(), QStringLiteral("&Help"));
    }

    void looksFollowTheDesign() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        fill(f2, tracks(3));
        QCOMPARE(f2.palette().color(QPalette::Window), QColor(187, 248, 120));
        QCOMPARE(f2.ListB->palette().color(QPalette::Base), QColor(74, 70, 70));
        QCOMPARE(f2.ListB->palette().color(QPalette::Text), QColor(57, 249, 67));
        QVERIFY(QFontInfo(f2.ListB->font()).fixedPitch());
        QCOMPARE(f2.ListB->visualRect(f2.Lists->index(1)).height(), 13);
        QCOMPARE(f2.ListB->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(f2.Panel1->text(), QStringLiteral("- - : - -"));
        QCOMPARE(f2.Panel1->palette().color(QPalette::Window), QColor(74, 70, 70));
        QCOMPARE(f2.Panel1->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        QCOMPARE(f2.SpeedButton2->palette().color(QPalette::ButtonText), QColor(Qt::blue));
        QCOMPARE(f2.Add->toolTip(), QStringLiteral("Add item"));
        QCOMPARE(f2.SpeedButton2->toolTip(), QStringLiteral("Help"));
        QVERIFY(f2.Rem->toolTip().isEmpty());
        QCOMPARE(f2.lirik->palette().color(QPalette::Base), QColor(74, 70, 70));
        QVERIFY(f2.lirik->isReadOnly());
        QVERIFY(!f2.GroupBox1->isVisible());
        QCOMPARE(f2.GroupBox1->title(), QStringLiteral("Scanning Bad Files"));
    }

    void lyricViewLiesBehindTheList() {
        TestSupport::PlaylistWindow f2;
        QWidget* front = f2.childAt(f2.ListB->geometry().center());
        QVERIFY(front == f2.ListB || f2.ListB->isAncestorOf(front));
    }

    void buttonsNeverTakeTheFocusByAClick() {
        TestSupport::PlaylistWindow f2;
        QVERIFY(activate(f2));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f2.ListB));
        for (TSpeedButton* b : {f2.Add, f2.Rem, f2.SpeedButton1, f2.List, f2.SpeedButton2}) {
            QCOMPARE(b->focusPolicy(), Qt::TabFocus); // by Tab alone
            QTest::mousePress(b, Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f2.ListB));
            QTest::mouseRelease(b, Qt::LeftButton);
            for (QMenu* m :
                 {f2.PopupMenu1, f2.PopupMenu2, f2.PopupMenu3, f2.PopupMenu4, f2.PopupMenu7})
                m->hide();
        }
    }

    // --- menus ---

    void menusCarryTheirItemsInOrder() {
        TestSupport::PlaylistWindow f2;
        QCOMPARE(captions(f2.PopupMenu4),
                 QStringList({"Add Folder", "Include Subfolder (on)", "-", "Add File(s)"}));
        QCOMPARE(captions(f2.PopupMenu2), QStringList({"Clear Play List", "-", "Clear Bad Files",
                                                       "Clear Unselected", "Clear Selected"}));
        QCOMPARE(captions(f2.PopupMenu3),
                 QStringList({"Deselect All", "-", "Invert Selection", "Select All"}));
        QCOMPARE(captions(f2.PopupMenu1),
                 QStringList({"New List", "-", "Save List", "-", "Shuffle list", "-", "Load List",
                              "Add to List"}));
        QCOMPARE(captions(f2.PopupMenu7), QStringList({"RER help (off)", "-", "About!!!"}));
        QCOMPARE(captions(f2.PopupMenu5),
                 QStringList({"Go to file's folder", "View file info", "Lyric", "Refresh"}));
        QCOMPARE(captions(f2.PopupMenu6),
                 QStringList({"Reload", "Copy", "Edit/Create", "Help", "-", "Close"}));
        const QList<QKeySequence> keys{QKeySequence(Qt::Key_G), QKeySequence(Qt::Key_I),
                                       QKeySequence(Qt::CTRL | Qt::Key_L),
                                       QKeySequence(Qt::CTRL | Qt::Key_R)};
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(f2.PopupMenu5->actions()[i]->shortcut(), keys[i]);
    }

    void includeSubfolderFlipsOncePerClick() {
        TestSupport::PlaylistWindow f2;
        QVERIFY(f2.IncludeSubfolder1->isChecked());
        f2.IncludeSubfolder1->trigger();
        QVERIFY(!f2.IncludeSubfolder1->isChecked());
        f2.IncludeSubfolder1->trigger();
        QVERIFY(f2.IncludeSubfolder1->isChecked());
    }

    void buttonMenusOpenUpwardsFromThePointer() {
        TestSupport::PlaylistWindow f2;
        const QPoint pointer(640, 600);
        QCursor::setPos(pointer);
        QTRY_COMPARE(QCursor::pos(), pointer);
        const QList<std::tuple<TSpeedButton*, QMenu*, int>> cases{
            {f2.Add, f2.PopupMenu4, 68},
            {f2.Rem, f2.PopupMenu2, 84},
            {f2.SpeedButton1, f2.PopupMenu3, 68},
            {f2.List, f2.PopupMenu1, 120},
            {f2.SpeedButton2, f2.PopupMenu7, 50}};
        for (const auto& [button, menu, offset] : cases) {
            button->click();
            QVERIFY(menu->isVisible());
            QCOMPARE(menu->pos(), pointer - QPoint(0, offset));
            menu->hide();
        }
    }

    void rightClickOnAButtonOpensItsMenuAtThePointer() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        const QList<QPair<QWidget*, QMenu*>> cases{{f2.Add, f2.PopupMenu4},
                                                   {f2.Rem, f2.PopupMenu2},
                                                   {f2.SpeedButton1, f2.PopupMenu3},
                                                   {f2.List, f2.PopupMenu1},
                                                   {f2.SpeedButton2, f2.PopupMenu7},
                                                   {f2.ListB->viewport(), f2.PopupMenu5},
                                                   {f2.lirik->viewport(), f2.PopupMenu6}};
        for (const auto& [widget, menu] : cases) {
            const QPoint at(5, 6);
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
            QApplication::sendEvent(widget, &event);
            QVERIFY(menu->isVisible());
            QCOMPARE(menu->pos(), widget->mapToGlobal(at));
            menu->hide();
        }
    }

    // --- keys ---

    void downAndUpStepTheEntriesWithWrapAround() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2, tracks(3));
        QVERIFY(activate(f2));
        f2.SetCurrentIndex(1);
        QTest::keyClick(f2.ListB, Qt::Key_Down);
        QCOMPARE(f2.CurrentIndex(), 2);
        QCOMPARE(f2.Lists->HighlightedRow(), 2);
        QTest::keyClick(f2.ListB, Qt::Key_Down);
        QCOMPARE(f2.CurrentIndex(), 0);
        QTest::keyClick(f2.ListB, Qt::Key_Up);
        QCOMPARE(f2.CurrentIndex(), 2);
        QCOMPARE(f2.Lists->HighlightedRow(), 2);
        QVERIFY(!f1.Timer1->isActive()); // stepping plays nothing
    }

    void upAndDownInTheMainWindowStillChangeTheVolume() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2, tracks(3));
        f2.SetCurrentIndex(1);
        f1.ScrollBar1->setValue(100);
        QVERIFY(activate(f1));
        QTest::keyClick(&f1, Qt::Key_Up);
        QCOMPARE(f1.ScrollBar1->value(), 102);
        QTest::keyClick(&f1, Qt::Key_Down);
        QTest::keyClick(&f1, Qt::Key_Down);
        QCOMPARE(f1.ScrollBar1->value(), 98);
        QCOMPARE(f2.CurrentIndex(), 1);
    }

    void ctrlUpAndDownMoveTheVolumeBarByTwo() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f1.ScrollBar1->setValue(100);
        QVERIFY(activate(f2));
        QTest::keyClick(f2.ListB, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(f1.ScrollBar1->value(), 102);
        QTest::keyClick(f2.ListB, Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(f2.ListB, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(f1.ScrollBar1->value(), 98);
        f1.ScrollBar1->setValue(255);
        QTest::keyClick(f2.ListB, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(f1.ScrollBar1->value(), 255);
    }

    void mainWindowShortcutsActInThePlaylistWindow() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        QVERIFY(activate(f2));
        QSignalSpy play(f1.Play1, &QAction::triggered);
        QSignalSpy repeat(f1.Repeat1, &QAction::triggered);
        QSignalSpy volumeUp(f1.Vol1, &QAction::triggered);
        // Play on an empty list offers the open dialog; nothing is chosen.
        SetDialogStandIn(
            {[](QFileDialog*) { return std::optional<std::vector<QByteArray>>(); }, {}, {}});
        TestSupport::MessageRecorder boxes;
        QTest::keyClick(f2.ListB, Qt::Key_X);
        QTest::keyClick(f2.ListB, Qt::Key_R, Qt::ShiftModifier);
        QTest::keyClick(f2.ListB, Qt::Key_Up);
        SetDialogStandIn({});
        QCOMPARE(play.count(), 1);
        QCOMPARE(repeat.count(), 1);
        QCOMPARE(volumeUp.count(), 0); // Up is the playlist window's own
    }

    void listMenuShortcutsActWhileTheListHasTheFocus() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        fill(f2, tracks(2));
        QVERIFY(activate(f2));
        f2.SetCurrentIndex(0);
        DesktopRequests desktop;
        TestSupport::MessageRecorder boxes;
        QList<QSignalSpy*> spies;
        for (QAction* item : f2.PopupMenu5->actions())
            spies << new QSignalSpy(item, &QAction::triggered);
        f2.ListB->setFocus();
        QTest::keyClick(f2.ListB, Qt::Key_G);
        QTest::keyClick(f2.ListB, Qt::Key_I);
        QTest::keyClick(f2.ListB, Qt::Key_R, Qt::ControlModifier);
        QTest::keyClick(f2.ListB, Qt::Key_L, Qt::ControlModifier); // last: it raises lirik
        for (QSignalSpy* spy : spies)
            QCOMPARE(spy->count(), 1);

        // Elsewhere in the window they are not the list's.
        f2.lirik->setFocus();
        QTest::keyClick(f2.lirik, Qt::Key_G);
        QCOMPARE(spies[0]->count(), 1);
        qDeleteAll(spies);
    }

    void aModifierAloneLeavesTheCurrentEntryForItsShortcut() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        fill(f2, tracks(3));
        QVERIFY(activate(f2));
        f2.SetCurrentIndex(1);
        f2.RenumberList(); // as after any change: the highlight is gone
        QCOMPARE(f2.Lists->HighlightedRow(), -1);
        f2.ListB->setFocus();
        for (const Qt::Key key : {Qt::Key_Control, Qt::Key_Shift, Qt::Key_Alt, Qt::Key_Meta}) {
            QTest::keyPress(f2.ListB, key);
            QTest::keyRelease(f2.ListB, key);
        }
        QCOMPARE(f2.CurrentIndex(), 1);
        TestSupport::MessageRecorder boxes;
        QTest::keyClick(f2.ListB, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(boxes.errors, QStringList());
        QCOMPARE(f2.lirik->toPlainText(),
                 QStringLiteral("\nLyric file is not found for\n\"t1.mp3\""));
    }

    // --- window commands ---

    void goToFolderOpensThePathUpToItsLastSlash() {
        TestSupport::PlaylistWindow f2;
        fill(f2, {"/music/rock/a.mp3", "/music/Artist: Song.mp3", "/music/AC\\DC/b.mp3", "bare.mp3",
                  "/m/\xe9t\xe9/b.mp3"});
        DesktopRequests desktop;
        QAction* go = itemOf(f2.PopupMenu5, QStringLiteral("Go to file's folder"));
        for (int i = 0; i < f2.EntryCount(); ++i) {
            f2.SetCurrentIndex(i);
            go->trigger();
        }
        QCOMPARE(desktop.requests, QStringList({"open-folder /music/rock/", "open-folder /music/",
                                                "open-folder /music/AC\\DC/",
                                                QString::fromLatin1("open-folder /m/\xe9t\xe9/")}));
    }

    void goToFolderWorksOnTheCurrentEntryNotTheRowUnderThePointer() {
        TestSupport::PlaylistWindow f2;
        fill(f2, {"/one/a.mp3", "/two/b.mp3", "/three/c.mp3"});
        QVERIFY(activate(f2));
        DesktopRequests desktop;
        QWidget* viewport = f2.ListB->viewport();
        const auto centre = [&f2](int row) {
            return f2.ListB->visualRect(f2.Lists->index(row)).center();
        };
        QTest::mouseClick(viewport, Qt::LeftButton, {}, centre(0));
        QTest::mousePress(viewport, Qt::RightButton, {}, centre(2));
        QTest::mouseRelease(viewport, Qt::RightButton, {}, centre(2));
        QTest::keyClick(f2.ListB, Qt::Key_G);
        QCOMPARE(desktop.requests, QStringList({"open-folder /one/"}));
    }

    void goToFolderWithoutCurrentEntryReportsTheIndex() {
        TestSupport::PlaylistWindow f2;
        fill(f2, tracks(2));
        DesktopRequests desktop;
        TestSupport::MessageRecorder boxes;
        itemOf(f2.PopupMenu5, QStringLiteral("Go to file's folder"))->trigger();
        QCOMPARE(boxes.errors, QStringList({"List index out of bounds (-1)"}));
        QVERIFY(desktop.requests.isEmpty());
    }

    void refreshShakesTheWindowAndPutsItBack() {
        TestSupport::PlaylistWindow f2;
        QVERIFY(QTest::qWaitForWindowExposed(&f2));
        QCoreApplication::processEvents();
        const QPoint home = f2.pos();
        int moves = 0;
        struct MoveCounter : QObject {
            int* count;
            explicit MoveCounter(int* c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Move)
                    ++*count;
                return false;
            }
        } counter(&moves);
        f2.installEventFilter(&counter);
        itemOf(f2.PopupMenu5, QStringLiteral("Refresh"))->trigger();
        QTRY_COMPARE(f2.pos(), home);
        QTest::qWait(50);
        QCOMPARE(f2.pos(), home);
        QVERIFY(moves > 0);
    }

    void cannotBeMadeSmallerThanTheMinimum() {
        TestSupport::PlaylistWindow f2;
        QVERIFY(QTest::qWaitForWindowExposed(&f2));
        f2.resize(40, 40);
        QTRY_COMPARE(outerSize(f2), QSize(267, 137));
        // The buttons stay at the bottom left, the time panel shrinks with it.
        QCOMPARE(f2.Add->geometry().bottom(), f2.height() - 2);
        QCOMPARE(f2.Panel1->geometry().right(), f2.width() - 10);
    }

    void scanBoxIsCentredOnTheOuterWidth() {
        TestSupport::PlaylistWindow f2;
        f2.CreateHiddenControls(); // as its first lyric command or scan does
        QVERIFY(QTest::qWaitForWindowExposed(&f2));
        const QSize frame = outerSize(f2) - f2.size();
        f2.resize(400 - frame.width(), 332);
        QTRY_COMPARE(outerSize(f2).width(), 400);
        QCOMPARE(f2.GroupBox1->x(), 104);
        QCOMPARE(f2.GroupBox1->y(), 16);
        f2.resize(f2.width(), 664);
        QCOMPARE(f2.GroupBox1->y() + f2.GroupBox1->height() / 2, 112);
    }

    // The lyric view and the scan box are built on first use, and come out
    // as if built with the window: the view behind the list and sized as
    // the list is in a window resized before, the box out of sight.
    void hiddenViewsBuiltOnFirstUseStartBehindTheListAndFollowTheWindow() {
        TForm1 f1;
        f1.show();
        TForm2 f2(&f1);
        QVERIFY(!f2.lirik && !f2.GroupBox1);
        QVERIFY(QTest::qWaitForWindowExposed(&f2));
        f2.resize(400, 500);
        QTRY_COMPARE(f2.size(), QSize(400, 500));
        f2.LoadLyrics("/nonexistent/a.mp3");
        QCOMPARE(f2.lirik->geometry(), QRect(4, 4, 252 + 400 - 259, 300 + 500 - 332));
        QVERIFY(f2.lirik->isVisible());
        QVERIFY(!f2.GroupBox1->isVisible());
        QCOMPARE(f2.Label1->text(), QStringLiteral("File"));
        // Behind the list, and its own menu on a right click.
        QVERIFY(f2.children().indexOf(f2.lirik) < f2.children().indexOf(f2.ListB));
        const QPoint at(5, 6);
        QWidget* view = f2.lirik->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->mapToGlobal(at));
        QApplication::sendEvent(view, &event);
        QVERIFY(f2.PopupMenu6->isVisible());
        f2.PopupMenu6->hide();
    }

    // The program's work after the first frame: once, after a paint.
    void workAfterTheFirstPaintRunsOnceAfterIt() {
        struct PaintSeen : QObject {
            bool seen = false;
            bool eventFilter(QObject*, QEvent* event) override {
                seen = seen || event->type() == QEvent::Paint;
                return false;
            }
        } paint;
        QWidget window;
        window.resize(60, 40);
        window.installEventFilter(&paint);
        int runs = 0;
        bool paintedBefore = false;
        AfterFirstPaint(
            &window,
            [&] {
                paintedBefore = paint.seen;
                ++runs;
            },
            60000);
        QTest::qWait(50);
        QCOMPARE(runs, 0);
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 10000);
        QVERIFY(paintedBefore);
        window.repaint();
        QTest::qWait(50);
        QCOMPARE(runs, 1);
    }

    void workAfterTheFirstPaintRunsAnywayOrNotAtAllWithoutItsWidget() {
        QWidget never;
        int runs = 0;
        AfterFirstPaint(
            &never, [&] { ++runs; }, 50);
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 10000);
        auto* gone = new QWidget;
        AfterFirstPaint(
            gone, [&] { ++runs; }, 50);
        delete gone;
        QTest::qWait(200);
        QCOMPARE(runs, 1);
    }

    // A lyric command brings the view in front of the list; closing it puts
    // it back behind.
    void lyricCommandShowsTheViewAndCloseHidesIt() {
        TForm1 f1;
        f1.show();
        TForm2 f2(&f1);
        fill(f2, tracks(2));
        f2.SetCurrentIndex(0);
        f2.Lyric1Click();
        QVERIFY(f2.lirik && f2.lirik->isVisible());
        QVERIFY(f2.lirik->toPlainText().contains(QStringLiteral("Lyric file is not found")));
        f2.Closelyricwindow1Click();
        QVERIFY(f2.children().indexOf(f2.lirik) < f2.children().indexOf(f2.ListB));
    }

    void closingHidesAndStrikesOutThePlaylistButton() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2, tracks(4));
        QVERIFY(!f1.SpeedButton3->isStruckOut());
        QCOMPARE(f1.SpeedButton3->text(), QStringLiteral("   &Play List"));
        QVERIFY(f2.close()); // accepted: an application quit is never held up
        QVERIFY(!f2.isVisible());
        QVERIFY(f1.isVisible());
        QVERIFY(f1.SpeedButton3->isStruckOut());
        QCOMPARE(f2.EntryCount(), 4);
        f1.SpeedButton3Click();
        QVERIFY(f2.isVisible());
        QVERIFY(!f1.SpeedButton3->isStruckOut());
    }

    void clickOnTheTimePanelTogglesTheTimeMode() {
        TestSupport::PlaylistWindow f2;
        QVERIFY(f2.TimeMode.isEmpty());
        QTest::mouseClick(f2.Panel1, Qt::LeftButton);
        QCOMPARE(f2.TimeMode, QStringLiteral("elapsed"));
        QTest::mouseClick(f2.Panel1, Qt::LeftButton);
        QCOMPARE(f2.TimeMode, QStringLiteral("counting"));
    }
};

QTEST_MAIN(PlaylistWindowTest)
#include "tst_playlistwindow.moc"
