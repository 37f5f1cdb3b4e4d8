// The playlist model: lines, numbering, the current entry and highlight,
// selection flags, and the view keeping its place across rebuilds.

#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"

#include <QAbstractItemModelTester>
#include <QScrollBar>
#include <QTest>
#include <memory>

namespace {

std::unique_ptr<Playlist> filled(const QList<QByteArray>& paths, bool renumber = true) {
    auto lists = std::make_unique<Playlist>();
    for (const QByteArray& p : paths)
        lists->AppendEntry(p);
    if (renumber)
        lists->RenumberList();
    return lists;
}

// Shows the view about ten rows high.
bool showTenRows(TListBox& view) {
    view.resize(200, 10 * TListBox::RowHeight + 2 * view.frameWidth());
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

QList<QByteArray> numbered(int count) {
    QList<QByteArray> paths;
    for (int i = 0; i < count; ++i)
        paths << "/music/track" + QByteArray::number(i) + ".mp3";
    return paths;
}

QStringList lines(const Playlist& lists) {
    QStringList out;
    for (int i = 0; i < lists.EntryCount(); ++i)
        out << lists.DisplayLine(i);
    return out;
}

QString errorOf(const Playlist& lists, int i) {
    try {
        lists.EntryPath(i);
    } catch (const EListError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace

class PlaylistTest : public QObject {
    Q_OBJECT
private slots:
    void displayNameIsWhatFollowsTheLastSlash() {
        QCOMPARE(DisplayName("/home/ann/Music/clip.AVI"), QByteArray("clip.AVI"));
        QCOMPARE(DisplayName("bare.wav"), QByteArray("bare.wav"));
        QCOMPARE(DisplayName("/music/"), QByteArray());
        // "\\" and ":" are ordinary characters of names.
        QCOMPARE(DisplayName("/music/Artist: Song.mp3"), QByteArray("Artist: Song.mp3"));
        QCOMPARE(DisplayName("/music/AC\\DC.mp3"), QByteArray("AC\\DC.mp3"));
        QCOMPARE(DisplayName("C:noslash.wav"), QByteArray("C:noslash.wav"));
    }

    void linesAreNumberFullStopBlankAndName() {
        QList<QByteArray> paths = numbered(12);
        paths[0] = "/music/Artist: Song.mp3";
        paths[2] = "noslash.wav";
        paths[3] = "/music/";
        paths[11] = "/video/a\\b.AVI";
        const auto lists = filled(paths);
        QCOMPARE(lists->DisplayLine(0), QStringLiteral("1. Artist: Song.mp3"));
        QCOMPARE(lists->DisplayLine(2), QStringLiteral("3. noslash.wav"));
        QCOMPARE(lists->DisplayLine(3), QStringLiteral("4. "));
        QCOMPARE(lists->DisplayLine(11), QStringLiteral("12. a\\b.AVI"));
    }

    void appendedLineIsProvisionalUntilRenumbered() {
        const auto lists = filled({"/a/one.mp3"});
        lists->AppendEntry("/a/two.mp3");
        QCOMPARE(lists->DisplayLine(1), QStringLiteral("two.mp3"));
        lists->RenumberList();
        QCOMPARE(lines(*lists), QStringList({"1. one.mp3", "2. two.mp3"}));
    }

    void captionCountsEntriesAndStaysPlural() {
        const auto lists = filled({});
        lists->RenumberList();
        QCOMPARE(lists->EntryCount(), 0);
        QCOMPARE(lists->StatusLine(), QStringLiteral("Play List: 0 items"));
        lists->AppendEntry("/a/one.mp3");
        lists->RenumberList();
        QCOMPARE(lists->StatusLine(), QStringLiteral("Play List: 1 items"));
        QCOMPARE(lists->DisplayLine(0), QStringLiteral("1. one.mp3"));
    }

    void removingSecondOfFiveRenumbersWithoutGap() {
        const auto lists = filled(numbered(5));
        lists->RemoveEntry(1);
        QCOMPARE(lists->DisplayLine(1), QStringLiteral("3. track2.mp3")); // stale until renumbered
        lists->RenumberList();
        QCOMPARE(lines(*lists),
                 QStringList({"1. track0.mp3", "2. track2.mp3", "3. track3.mp3", "4. track4.mp3"}));
        QCOMPARE(lists->StatusLine(), QStringLiteral("Play List: 4 items"));
    }

    void duplicatesGetLinesOfTheirOwn() {
        const auto lists = filled({"/a/same.mp3", "/a/same.mp3"});
        QCOMPARE(lines(*lists), QStringList({"1. same.mp3", "2. same.mp3"}));
    }

    void pathBytesSurviveUnchanged() {
        const QByteArray latin1 = "/music/caf\xe9.mp3"; // not valid UTF-8
        const auto lists = filled({latin1});
        QCOMPARE(lists->EntryPath(0), latin1);
        QVERIFY(lists->DisplayLine(0).startsWith(QStringLiteral("1. caf")));
    }

    void entryPathOutsideTheListFailsWithItsIndex() {
        const auto lists = filled(numbered(5));
        QCOMPARE(errorOf(*lists, 5), QStringLiteral("List index out of bounds (5)"));
        QCOMPARE(errorOf(*lists, -1), QStringLiteral("List index out of bounds (-1)"));
        QVERIFY_THROWS_EXCEPTION(EListError, lists->RemoveEntry(7));
    }

    void renumberRemovesHighlightButKeepsCurrentEntryAndListAFlags() {
        const auto lists = filled(numbered(5));
        lists->SetCurrentIndex(2);
        QCOMPARE(lists->HighlightedRow(), 2);
        lists->RenumberList();
        QCOMPARE(lists->HighlightedRow(), -1);
        QCOMPARE(lists->CurrentIndex(), 2);

        lists->SetMultiSelect(true);
        lists->SetSelectedA(3, true);
        lists->SetSelectedB(3, true);
        lists->RenumberList();
        QVERIFY(lists->SelectedA(3));
        QVERIFY(!lists->SelectedB(3));
    }

    void currentEntryAndHighlightFollowRemoval() {
        const auto lists = filled(numbered(8));
        lists->SetCurrentIndex(4); // entry 5
        lists->RemoveEntry(1);     // entry 2
        QCOMPARE(lists->CurrentIndex(), 3);
        QCOMPARE(lists->HighlightedRow(), 3);
        QCOMPARE(lists->EntryPath(3), QByteArray("/music/track4.mp3"));

        lists->RemoveEntry(5); // after it
        QCOMPARE(lists->CurrentIndex(), 3);
        QCOMPARE(lists->HighlightedRow(), 3);

        lists->RemoveEntry(3); // itself
        QCOMPARE(lists->CurrentIndex(), -1);
        QCOMPARE(lists->HighlightedRow(), -1);
    }

    void appendingMovesNeitherCurrentEntryNorHighlight() {
        const auto lists = filled(numbered(3));
        lists->SetCurrentIndex(1);
        lists->AppendEntries({"/x/a.mp3", "/x/b.mp3"});
        lists->AppendEntry("/x/c.mp3");
        QCOMPARE(lists->CurrentIndex(), 1);
        QCOMPARE(lists->HighlightedRow(), 1);
        QCOMPARE(lists->EntryCount(), 6);
    }

    void clearingLeavesNoCurrentEntry() {
        const auto lists = filled(numbered(3));
        lists->SetCurrentIndex(1);
        lists->ClearEntries();
        QCOMPARE(lists->EntryCount(), 0);
        QCOMPARE(lists->CurrentIndex(), -1);
        QCOMPARE(lists->HighlightedRow(), -1);
    }

    void switchingModesKeepsTheSelectedRowAndCollapsesToTheCurrentOne() {
        const auto lists = filled(numbered(6));
        lists->SetCurrentIndex(2);
        lists->SetMultiSelect(true);
        QVERIFY(lists->SelectedB(2));
        QVERIFY(lists->SelectedA(2));
        QCOMPARE(lists->SelectedCountB(), 1);

        lists->SetSelectedB(4, true);
        lists->SetSelectedB(5, true);
        QCOMPARE(lists->SelectedCountB(), 3);
        QCOMPARE(lists->HighlightedRow(), 2); // flags do not move the focus row

        lists->SetMultiSelect(false);
        QCOMPARE(lists->SelectedCountB(), 1);
        QVERIFY(lists->SelectedB(2));
        QVERIFY(!lists->SelectedB(4));

        lists->SetHighlightedRow(-1);
        lists->SetMultiSelect(true);
        QCOMPARE(lists->SelectedCountB(), 0);
    }

    void deletingSelectedRowsKeepsTheCurrentEntry() {
        const auto lists = filled(numbered(8));
        lists->SetCurrentIndex(5);
        lists->SetMultiSelect(true);
        lists->SetAllSelectedB(false);
        for (int row : {0, 2, 7})
            lists->SetSelectedB(row, true);
        lists->DeleteSelectedEntries();
        QCOMPARE(lists->EntryCount(), 5);
        QCOMPARE(lists->CurrentIndex(), 3);
        QCOMPARE(lists->EntryPath(3), QByteArray("/music/track5.mp3"));

        lists->SetSelectedB(3, true);
        lists->DeleteSelectedEntries();
        QCOMPARE(lists->CurrentIndex(), -1);
    }

    void deletingInSingleSelectionRemovesTheHighlightedRowOnly() {
        const auto lists = filled(numbered(4));
        lists->DeleteSelectedEntries(); // nothing highlighted
        QCOMPARE(lists->EntryCount(), 4);
        lists->SetCurrentIndex(1);
        lists->DeleteSelectedEntries();
        QCOMPARE(lists->EntryCount(), 3);
        QCOMPARE(lists->EntryPath(1), QByteArray("/music/track2.mp3"));
    }

    void invertingFlipsListBAndCopiesItToListA() {
        const auto lists = filled(numbered(5));
        lists->SetMultiSelect(true);
        lists->SetSelectedB(1, true);
        lists->SetSelectedA(4, true); // differs from ListB on purpose
        lists->InvertSelectionFlags();
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(lists->SelectedB(i), i != 1);
            QCOMPARE(lists->SelectedA(i), i != 1);
        }
    }

    void rangeSelectionWorksEitherWayRound() {
        const auto lists = filled(numbered(10));
        lists->SetMultiSelect(true);
        lists->SetRangeSelectedB(6, 3, true);
        QCOMPARE(lists->SelectedCountB(), 4);
        QVERIFY(lists->SelectedB(3) && lists->SelectedB(6) && !lists->SelectedB(7));
    }

    void movingAnEntryShiftsTheOnesBetweenAndCarriesTheIndexes() {
        const auto lists = filled({"a", "b", "c", "d", "e", "f"});
        lists->SetCurrentIndex(2); // c
        lists->MoveEntry(1, 4);
        QCOMPARE(lists->Paths().toVector(),
                 std::vector<QByteArray>({"a", "c", "d", "e", "b", "f"}));
        QCOMPARE(lists->CurrentIndex(), 1); // still c
        lists->MoveEntry(4, 0);
        QCOMPARE(lists->Paths().toVector(),
                 std::vector<QByteArray>({"b", "a", "c", "d", "e", "f"}));
        QCOMPARE(lists->CurrentIndex(), 2);
    }

    void exchangeCarriesTheCurrentEntryAlong() {
        const auto lists = filled({"a", "b", "c"});
        lists->SetCurrentIndex(0);
        lists->ExchangeEntriesA(0, 2);
        QCOMPARE(lists->CurrentIndex(), 2);
        lists->ExchangeEntriesA(1, 2);
        QCOMPARE(lists->CurrentIndex(), 1);
        QCOMPARE(lists->EntryPath(1), QByteArray("a"));
    }

    void removingMostEntriesKeepsTheOthersByteForByte() {
        // Enough text that the removed paths' bytes are given back, and
        // the remaining paths move within the store.
        QObject owner;
        std::vector<QByteArray> paths;
        for (int i = 0; i < 30000; ++i)
            paths.push_back("/m/" + QByteArray(80, char('a' + i % 26)) + QByteArray::number(i));
        auto* lists = new Playlist(&owner);
        lists->AppendEntries(paths);
        lists->SetCurrentIndex(25000);
        lists->SetMultiSelect(true);
        for (int i = 0; i < 30000; i += 10)
            lists->SetSelectedB(i, true);
        lists->InvertSelectionFlags();
        lists->DeleteSelectedEntries();
        QCOMPARE(lists->EntryCount(), 3000);
        for (int k = 0; k < 3000; ++k)
            QCOMPARE(lists->EntryPath(k), paths[size_t(k) * 10]);
        QCOMPARE(lists->CurrentIndex(), 2500);
        lists->AppendEntry("/m/new.mp3");
        lists->MoveEntry(3000, 0);
        QCOMPARE(lists->EntryPath(0), QByteArray("/m/new.mp3"));
        QCOMPARE(lists->EntryPath(3000), paths[29990]);
    }

    void modelStaysConsistentThroughEveryEdit() {
        const auto lists = filled(numbered(20));
        QAbstractItemModelTester tester(lists.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        lists->SetCurrentIndex(3);
        lists->MoveEntry(3, 15);
        lists->RemoveEntry(0);
        lists->SetMultiSelect(true);
        lists->SetAllSelectedB(true);
        lists->InvertSelectionFlags();
        lists->SetRangeSelectedB(2, 9, true);
        lists->DeleteSelectedEntries();
        lists->RefillListB();
        lists->RenumberList();
        lists->AppendEntries({"/x/1.mp3", "/x/2.mp3"});
        lists->ClearEntries();
        QCOMPARE(lists->rowCount(), 0);
    }

    // Scroll position: a view of 100 rows showing about ten.
    void rebuildKeepsTheFirstVisibleRowAndShorterListShowsLastPage() {
        const auto lists = filled(numbered(100));
        TListBox view(lists.get());
        QVERIFY(showTenRows(view));
        view.SetFirstVisibleRow(40);
        QCOMPARE(view.FirstVisibleRow(), 40);

        lists->RenumberList();
        QCOMPARE(view.FirstVisibleRow(), 40);
        lists->RefillListB();
        QCOMPARE(view.FirstVisibleRow(), 40);

        lists->SetMultiSelect(true);
        lists->SetRangeSelectedB(0, 69, true);
        lists->DeleteSelectedEntries();
        lists->RenumberList();
        QCoreApplication::processEvents();
        QCOMPARE(lists->EntryCount(), 30);
        QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
        QVERIFY(view.FirstVisibleRow() > 0);
        QVERIFY(view.visualRect(lists->index(29)).bottom() <= view.viewport()->height());
    }

    void removingRowsOneByOneAlsoEndsOnTheLastPage() {
        const auto lists = filled(numbered(100));
        TListBox view(lists.get());
        QVERIFY(showTenRows(view));
        view.SetFirstVisibleRow(40);
        for (int i = 0; i < 70; ++i)
            lists->RemoveEntry(0);
        lists->RenumberList();
        QCoreApplication::processEvents();
        QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
        QVERIFY(view.FirstVisibleRow() > 0);
    }

    void rowsAreThirteenPixelsHigh() {
        const auto lists = filled(numbered(3));
        TListBox view(lists.get());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.visualRect(lists->index(1)).height(), 13);
        QCOMPARE(view.visualRect(lists->index(2)).top() - view.visualRect(lists->index(1)).top(),
                 13);
    }
};

QTEST_MAIN(PlaylistTest)
#include "tst_playlist.moc"
