// Selecting and editing the playlist through the window: the "&Clear",
// "&Sel" and "&List" commands, the keys of the list, and clicking and
// dragging rows with real mouse events on the list.

#include "TestSupport.h"
#include "TestWindows.h"

#include "player/media/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"

#include <QMenu>
#include <QTest>

namespace {

QByteArray pathOf(const QByteArray& name) {
    return "/music/" + name;
}

void fill(TForm2& f2, const QList<QByteArray>& names) {
    QList<QByteArray> paths;
    for (const QByteArray& name : names)
        paths << pathOf(name);
    TestSupport::Fill(f2, paths);
}

QList<QByteArray> letters(int count) {
    QList<QByteArray> names;
    for (int i = 0; i < count; ++i)
        names << QByteArray(1, char('a' + i));
    return names;
}

QList<QByteArray> order(const TForm2& f2) {
    QList<QByteArray> names;
    for (int i = 0; i < f2.EntryCount(); ++i)
        names << DisplayName(f2.EntryPath(i));
    return names;
}

QStringList lines(const TForm2& f2) {
    QStringList out;
    for (int i = 0; i < f2.EntryCount(); ++i)
        out << f2.Lists->DisplayLine(i);
    return out;
}

QList<int> selectedRows(const TForm2& f2) {
    QList<int> rows;
    for (int i = 0; i < f2.EntryCount(); ++i)
        if (f2.Lists->SelectedB(i))
            rows << i;
    return rows;
}

QPoint rowPoint(const TForm2& f2, int row) {
    return f2.ListB->visualRect(f2.Lists->index(row)).center();
}

void click(TForm2& f2, int row, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(f2.ListB->viewport(), Qt::LeftButton, modifiers, rowPoint(f2, row));
}

// Presses on one row, moves the pointer over the rows in between and lets go
// on the last one.
void drag(TForm2& f2, int from, int to, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* viewport = f2.ListB->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, modifiers, rowPoint(f2, from));
    const int step = from < to ? 1 : -1;
    for (int row = from + step; row != to + step; row += step)
        QTest::mouseMove(viewport, rowPoint(f2, row));
    QTest::mouseRelease(viewport, Qt::LeftButton, modifiers, rowPoint(f2, to));
}

bool trigger(QMenu* menu, const QString& caption) {
    for (QAction* item : menu->actions())
        if (item->text() == caption) {
            item->trigger();
            return true;
        }
    return false;
}

bool activate(QWidget& window) {
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace

class EditingTest : public QObject {
    Q_OBJECT
private slots:
    // --- the "&Clear" commands ---

    void selectAllThenClearSelectedEmptiesThePlaylist() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(5));
        QVERIFY(trigger(f2.PopupMenu3, "Select All"));
        QVERIFY(trigger(f2.PopupMenu2, "Clear Selected"));
        QCOMPARE(f2.EntryCount(), 0);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 0 items"));
        QCOMPARE(f2.CurrentIndex(), -1);
    }

    void clearUnselectedAfterClickingRowThreeKeepsOnlyIt() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        click(f2, 2);
        QVERIFY(trigger(f2.PopupMenu2, "Clear Unselected"));
        QCOMPARE(lines(f2), QStringList({"1. c"}));
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 1 items"));
        QCOMPARE(f2.CurrentIndex(), 0);
    }

    void clearSelectedAfterClickingRemovesThatRowAndDownStartsAtTheTop() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(5));
        QVERIFY(activate(f2));
        click(f2, 2);
        QVERIFY(trigger(f2.PopupMenu2, "Clear Selected"));
        QCOMPARE(lines(f2), QStringList({"1. a", "2. b", "3. d", "4. e"}));
        QCOMPARE(f2.CurrentIndex(), -1);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 4 items"));
        QTest::keyClick(f2.ListB, Qt::Key_Down);
        QCOMPARE(f2.CurrentIndex(), 0);
        QCOMPARE(f2.Lists->HighlightedRow(), 0);
    }

    void deleteKeyRemovesTheClickedRowLikeClearSelected() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(5));
        QVERIFY(activate(f2));
        click(f2, 2);
        QTest::keyClick(f2.ListB, Qt::Key_Delete);
        QCOMPARE(lines(f2), QStringList({"1. a", "2. b", "3. d", "4. e"}));
        QCOMPARE(f2.CurrentIndex(), -1);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 4 items"));
        QTest::keyClick(f2.ListB, Qt::Key_Down);
        QCOMPARE(f2.CurrentIndex(), 0);
    }

    void rightAfterAddingClearSelectedRemovesNothingButRenumbers() {
        TestSupport::PlaylistWindow f2;
        for (const QByteArray& name : letters(3))
            f2.AppendEntry(pathOf(name)); // provisional lines, nothing highlighted
        QVERIFY(trigger(f2.PopupMenu2, "Clear Selected"));
        QCOMPARE(lines(f2), QStringList({"1. a", "2. b", "3. c"}));
    }

    void rightAfterAddingClearUnselectedRemovesEverything() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(3));
        QVERIFY(trigger(f2.PopupMenu2, "Clear Unselected"));
        QCOMPARE(f2.EntryCount(), 0);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 0 items"));
    }

    void rightAfterAddingDeleteRemovesNothingAndLeavesNoCurrentEntry() {
        TestSupport::PlaylistWindow f2;
        f2.AppendEntry(pathOf("a"));
        f2.AppendEntry(pathOf("b"));
        f2.SetCurrentIndex(0);
        f2.RenumberList(); // the highlight goes, the current entry stays
        QCOMPARE(f2.CurrentIndex(), 0);
        QTest::keyClick(f2.ListB, Qt::Key_Delete);
        QCOMPARE(f2.EntryCount(), 2);
        QCOMPARE(f2.CurrentIndex(), -1);
    }

    void clearPlayListEmptiesAndOnAnEmptyListLeavesTheCaptionAlone() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(3));
        f2.SetCurrentIndex(1);
        QVERIFY(trigger(f2.PopupMenu2, "Clear Play List"));
        QCOMPARE(f2.EntryCount(), 0);
        QCOMPARE(f2.CurrentIndex(), -1);
        QCOMPARE(f2.windowTitle(), QStringLiteral("Play List: 0 items"));

        f2.setWindowTitle(QStringLiteral("untouched"));
        QVERIFY(trigger(f2.PopupMenu2, "Clear Play List"));
        QCOMPARE(f2.windowTitle(), QStringLiteral("untouched"));
    }

    // --- the "&Sel" commands and clicks ---

    void ctrlClicksStartANewSelectionAndInvertSelectsTheOthers() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(8));
        click(f2, 0);
        QTest::keyPress(f2.ListB, Qt::Key_Control);
        QVERIFY(f2.CtrlDown);
        for (int row : {1, 3, 5})
            click(f2, row, Qt::ControlModifier);
        QTest::keyRelease(f2.ListB, Qt::Key_Control);
        QVERIFY(!f2.CtrlDown);
        QVERIFY(f2.Lists->MultiSelect());
        QCOMPARE(selectedRows(f2), QList<int>({1, 3, 5}));
        QCOMPARE(f2.CurrentIndex(), 5);

        QVERIFY(trigger(f2.PopupMenu3, "Invert Selection"));
        QCOMPARE(selectedRows(f2), QList<int>({0, 2, 4, 6, 7}));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(f2.Lists->SelectedA(i), f2.Lists->SelectedB(i));
        QCOMPARE(f2.Lists->HighlightedRow(), 5); // the focus row stays
    }

    void ctrlClickOnASelectedRowRemovesIt() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        QTest::keyPress(f2.ListB, Qt::Key_Control);
        for (int row : {1, 2, 4, 2})
            click(f2, row, Qt::ControlModifier);
        QTest::keyRelease(f2.ListB, Qt::Key_Control);
        QCOMPARE(selectedRows(f2), QList<int>({1, 4}));
    }

    void plainClickEndsAMultiSelection() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        QVERIFY(trigger(f2.PopupMenu3, "Select All"));
        click(f2, 3);
        QVERIFY(!f2.Lists->MultiSelect());
        QCOMPARE(selectedRows(f2), QList<int>({3}));
        QCOMPARE(f2.CurrentIndex(), 3);
    }

    void invertInSingleSelectionLeavesNoCurrentEntry() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(4));
        click(f2, 1);
        QVERIFY(trigger(f2.PopupMenu3, "Invert Selection"));
        QCOMPARE(selectedRows(f2), QList<int>({0, 2, 3}));
        QCOMPARE(f2.CurrentIndex(), -1);
        QCOMPARE(f2.Lists->HighlightedRow(), 1);
    }

    void deselectAllAfterAPlainClickLeavesNoCurrentEntry() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(4));
        click(f2, 2);
        QVERIFY(trigger(f2.PopupMenu3, "Deselect All"));
        QCOMPARE(f2.CurrentIndex(), -1);
        QCOMPARE(f2.Lists->HighlightedRow(), -1);
        QCOMPARE(selectedRows(f2), QList<int>());
    }

    void deselectAllAfterSelectAllKeepsTheCurrentEntry() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(4));
        click(f2, 2);
        QVERIFY(trigger(f2.PopupMenu3, "Select All"));
        QCOMPARE(selectedRows(f2), QList<int>({0, 1, 2, 3}));
        QCOMPARE(f2.CurrentIndex(), 2);
        QVERIFY(trigger(f2.PopupMenu3, "Deselect All"));
        QCOMPARE(selectedRows(f2), QList<int>());
        QCOMPARE(f2.CurrentIndex(), 2);
        QCOMPARE(f2.Lists->HighlightedRow(), 2);
    }

    void rightPressDuringAMultiSelectionCollapsesItToTheCurrentRow() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        click(f2, 2);
        QVERIFY(trigger(f2.PopupMenu3, "Select All"));
        QWidget* viewport = f2.ListB->viewport();
        QTest::mousePress(viewport, Qt::RightButton, {}, rowPoint(f2, 4));
        QTest::mouseRelease(viewport, Qt::RightButton, {}, rowPoint(f2, 4));
        QVERIFY(!f2.Lists->MultiSelect());
        QCOMPARE(selectedRows(f2), QList<int>({2}));
        QCOMPARE(f2.CurrentIndex(), 2);
        QCOMPARE(order(f2), letters(6));
    }

    void ctrlPressedOutsideTheListDoesNotCount() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2, letters(3));
        QTest::keyPress(&f1, Qt::Key_Control);
        QVERIFY(!f2.CtrlDown);
        QTest::keyRelease(&f1, Qt::Key_Control);
        QTest::keyPress(f2.ListB, Qt::Key_Control);
        QVERIFY(f2.CtrlDown);
        QTest::keyRelease(&f1, Qt::Key_Control);
        QVERIFY(f2.CtrlDown); // released elsewhere: still down for the list
        QTest::keyRelease(f2.ListB, Qt::Key_Control);
        QVERIFY(!f2.CtrlDown);
    }

    // --- clicking, playing and dragging ---

    void clickMakesTheRowCurrentAndRenumbers() {
        TestSupport::PlaylistWindow f2;
        for (const QByteArray& name : letters(3))
            f2.AppendEntry(pathOf(name));
        click(f2, 1);
        QCOMPARE(lines(f2), QStringList({"1. a", "2. b", "3. c"}));
        QCOMPARE(f2.CurrentIndex(), 1);
        QCOMPARE(f2.Lists->HighlightedRow(), 1);
        QCOMPARE(f2.DragOrigin, 1);
    }

    void enterPlaysTheHighlightedEntry() {
        TestSupport::MessageRecorder boxes; // playback fails here; no box may block
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2, letters(4));
        click(f2, 1);
        QTest::keyClick(f2.ListB, Qt::Key_Return);
        QCOMPARE(f1.MP->FileName, pathOf("b"));
    }

    void doubleClickPlaysTheClickedEntry() {
        TestSupport::MessageRecorder boxes; // playback fails here; no box may block
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2, letters(5));
        QWidget* viewport = f2.ListB->viewport();
        const QPoint at = rowPoint(f2, 3);
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        QCOMPARE(order(f2), letters(5)); // the first click moved nothing
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        // These entries name no real files: the open fails and the recovery
        // cleans them out, but the entry tried was the clicked one.
        QCOMPARE(f1.MP->FileName, pathOf("d"));
    }

    void draggingRowTwoOntoRowFiveMovesItThere() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        drag(f2, 1, 4);
        QCOMPARE(order(f2), QList<QByteArray>({"a", "c", "d", "e", "b", "f"}));
        QCOMPARE(f2.Lists->DisplayLine(4), QStringLiteral("5. b"));
        QCOMPARE(f2.Lists->HighlightedRow(), 4);
        QCOMPARE(f2.CurrentIndex(), 4);
        QCOMPARE(lines(f2), QStringList({"1. a", "2. c", "3. d", "4. e", "5. b", "6. f"}));
    }

    void draggingUpwardsMovesTheEntryUp() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        drag(f2, 4, 1);
        QCOMPARE(order(f2), QList<QByteArray>({"a", "e", "b", "c", "d", "f"}));
        QCOMPARE(f2.CurrentIndex(), 1);
    }

    void draggingWithCtrlHeldMovesNothing() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(6));
        QTest::keyPress(f2.ListB, Qt::Key_Control);
        drag(f2, 1, 4, Qt::ControlModifier);
        QTest::keyRelease(f2.ListB, Qt::Key_Control);
        QCOMPARE(order(f2), letters(6));
    }

    void releaseWithoutAnyHighlightMovesNothing() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(3));
        // A press below the last row highlights nothing.
        QWidget* viewport = f2.ListB->viewport();
        const QPoint below(10, viewport->height() - 3);
        QTest::mousePress(viewport, Qt::LeftButton, {}, below);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, below);
        QCOMPARE(f2.DragOrigin, -1);
        QCOMPARE(order(f2), letters(3));
        QCOMPARE(f2.Lists->HighlightedRow(), -1);
    }

    void draggingPastTheBottomEdgeWalksOnAndScrolls() {
        TestSupport::PlaylistWindow f2;
        QList<QByteArray> names;
        for (int i = 0; i < 100; ++i)
            names << "e" + QByteArray::number(i);
        fill(f2, names);
        QWidget* viewport = f2.ListB->viewport();
        const QPoint below(10, viewport->height() + 5);
        QTest::mousePress(viewport, Qt::LeftButton, {}, rowPoint(f2, 1));
        const int lastInView = f2.ListB->RowAt(QPoint(1, viewport->height() - 1));
        QTest::mouseMove(viewport, below);
        const int first = f2.Lists->HighlightedRow();
        QVERIFY(first >= lastInView && first <= lastInView + 1);
        for (int step = 0; step < 4; ++step)
            QTest::mouseMove(viewport, below);
        QCOMPARE(f2.Lists->HighlightedRow(), first + 4); // one row per move
        QVERIFY(f2.ListB->FirstVisibleRow() > 0);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, below);
        QCOMPARE(DisplayName(f2.EntryPath(first + 4)), QByteArray("e1"));
        QCOMPARE(f2.CurrentIndex(), first + 4);
    }

    void keysTheListHandlesItselfMoveTheCurrentEntry() {
        TestSupport::PlaylistWindow f2;
        QList<QByteArray> names;
        for (int i = 0; i < 100; ++i)
            names << "e" + QByteArray::number(i);
        fill(f2, names);
        click(f2, 3);
        QTest::keyClick(f2.ListB, Qt::Key_End);
        QCOMPARE(f2.CurrentIndex(), 99);
        QCOMPARE(f2.Lists->HighlightedRow(), 99);
        QTest::keyClick(f2.ListB, Qt::Key_Home);
        QCOMPARE(f2.CurrentIndex(), 0);
        QTest::keyClick(f2.ListB, Qt::Key_PageDown);
        QVERIFY(f2.CurrentIndex() > 10);
        QCOMPARE(f2.CurrentIndex(), f2.Lists->HighlightedRow());
    }

    void ctrlShiftClickAddsTheRunFromTheLastClick() {
        TestSupport::PlaylistWindow f2;
        fill(f2, letters(8));
        QTest::keyPress(f2.ListB, Qt::Key_Control);
        click(f2, 0, Qt::ControlModifier);
        click(f2, 2, Qt::ControlModifier);
        click(f2, 5, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyRelease(f2.ListB, Qt::Key_Control);
        QCOMPARE(selectedRows(f2), QList<int>({0, 2, 3, 4, 5}));
        QCOMPARE(f2.CurrentIndex(), 5);
    }

    // --- "Shuffle list" ---

    void shuffleOfOneEntryChangesNothingAndOfTwoExchangesThem() {
        TestSupport::PlaylistWindow f2;
        fill(f2, {"a"});
        QVERIFY(trigger(f2.PopupMenu1, "Shuffle list"));
        QCOMPARE(lines(f2), QStringList({"1. a"}));
        f2.AppendEntry(pathOf("b"));
        for (int run = 0; run < 5; ++run) {
            const QList<QByteArray> before = order(f2);
            QVERIFY(trigger(f2.PopupMenu1, "Shuffle list"));
            QCOMPARE(order(f2), QList<QByteArray>({before[1], before[0]}));
        }
    }

    void shuffleOfThreeIsAlwaysOneOfTheTwoRotations() {
        TestSupport::PlaylistWindow f2;
        const QList<QByteArray> cab{"c", "a", "b"}, bca{"b", "c", "a"};
        for (int run = 0; run < 30; ++run) {
            f2.ClearEntries();
            fill(f2, {"a", "b", "c"});
            QVERIFY(trigger(f2.PopupMenu1, "Shuffle list"));
            const QList<QByteArray> result = order(f2);
            QVERIFY2(result == cab || result == bca, result.join(',').constData());
        }
    }

    void shuffleMovesEveryEntryInOneCycle() {
        TestSupport::PlaylistWindow f2;
        const int n = 1000;
        QList<QByteArray> names;
        for (int i = 0; i < n; ++i)
            names << "e" + QByteArray::number(i);
        fill(f2, names);
        QVERIFY(trigger(f2.PopupMenu1, "Shuffle list"));

        QHash<QByteArray, int> newIndex;
        for (int i = 0; i < n; ++i)
            newIndex[DisplayName(f2.EntryPath(i))] = i;
        QCOMPARE(newIndex.size(), n); // nothing lost or doubled
        std::vector<int> moved(n);
        for (int i = 0; i < n; ++i) {
            moved[size_t(i)] = newIndex[names[i]];
            QVERIFY2(moved[size_t(i)] != i, qPrintable(QStringLiteral("entry %1 stayed").arg(i)));
        }
        int steps = 0, at = 0;
        do {
            at = moved[size_t(at)];
            ++steps;
        } while (at != 0 && steps <= n);
        QCOMPARE(steps, n);
        QCOMPARE(f2.Lists->DisplayLine(0).section(QLatin1Char('.'), 0, 0), QStringLiteral("1"));
    }

    void commandsThatKeepTheNumberOfRowsNeverLayTheListOutAgain() {
        TestSupport::PlaylistWindow f2;
        QList<QByteArray> names;
        for (int i = 0; i < 3000; ++i)
            names << "e" + QByteArray::number(i);
        fill(f2, names);
        QVERIFY(QTest::qWaitForWindowExposed(&f2));
        f2.ListB->viewport()->repaint();
        const int laidOut = f2.ListB->LayoutCount();
        drag(f2, 2, 5);
        QCOMPARE(order(f2).mid(2, 4), (QList<QByteArray>{"e3", "e4", "e5", "e2"}));
        QVERIFY(trigger(f2.PopupMenu3, "Invert Selection"));
        QVERIFY(trigger(f2.PopupMenu1, "Shuffle list"));
        QVERIFY(trigger(f2.PopupMenu3, "Select All"));
        f2.Next1Click();
        f2.RenumberList();
        QApplication::processEvents();
        f2.ListB->viewport()->repaint();
        QCOMPARE(f2.ListB->LayoutCount(), laidOut);
    }

    void shuffleKeepsTheCurrentEntryAndTheFirstVisibleRow() {
        TestSupport::PlaylistWindow f2;
        QList<QByteArray> names;
        for (int i = 0; i < 300; ++i)
            names << "e" + QByteArray::number(i);
        fill(f2, names);
        f2.SetCurrentIndex(7);
        f2.ListB->SetFirstVisibleRow(120);
        QCOMPARE(f2.ListB->FirstVisibleRow(), 120);
        QVERIFY(trigger(f2.PopupMenu1, "Shuffle list"));
        QCOMPARE(DisplayName(f2.EntryPath(f2.CurrentIndex())), QByteArray("e7"));
        QVERIFY(f2.CurrentIndex() != 7);
        QCOMPARE(f2.Lists->HighlightedRow(), -1);
        QCOMPARE(f2.ListB->FirstVisibleRow(), 120);
    }
};

QTEST_MAIN(EditingTest)
#include "tst_editing.moc"
