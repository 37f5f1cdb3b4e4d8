// Times the playlist's bulk commands on long lists, through the real windows
// (each figure includes the list's repaint), and reports the memory held.
//
//   bench_playlist [count ...]      default: 10000 100000 1000000
//
// Run it under tools/with-test-env for a private display and sound server;
// without a display it falls back to Qt's offscreen platform. It always works
// in a temporary home, so the automatic playlist it may read or write is
// never the user's.

#include "TestSupport.h"

#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>

namespace {

std::vector<QByteArray> makePaths(int count) {
    std::vector<QByteArray> paths;
    paths.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        paths.push_back("/home/listener/Music/Artist " + QByteArray::number(i / 1000) + "/Album " +
                        QByteArray::number(i / 12 % 100) + "/" +
                        QByteArray::number(i).rightJustified(7, '0') + " - Track title.mp3");
    return paths;
}

// Runs a command and lets the windows catch up (layout and repaint), which
// is what the user waits for.
// How many times the last timed command had the list laid out anew.
int lastLayouts = 0;

const char* layoutsText() {
    static char text[40];
    std::snprintf(text, sizeof text, "  [%d layout pass%s]", lastLayouts,
                  lastLayouts == 1 ? "" : "es");
    return text;
}

template <class Command> double timed(TListBox* shown, Command&& command) {
    const int layoutsBefore = shown->LayoutCount();
    QElapsedTimer clock;
    clock.start();
    command();
    QApplication::processEvents();
    shown->repaint();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    lastLayouts = shown->LayoutCount() - layoutsBefore;
    return ms;
}

QByteArray statusField(const char* name) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith(name))
            return line.mid(qsizetype(strlen(name))).trimmed();
    return "?";
}

void benchOne(int n) {
    std::printf("\n== %d entries ==\n", n);
    std::vector<QByteArray> paths = makePaths(n);
    qint64 textBytes = 0;
    for (const QByteArray& p : paths)
        textBytes += p.size();

    {
        // Reference: the least any shuffle of these paths costs.
        std::vector<QByteArray> copy = paths;
        std::mt19937 random(1);
        QElapsedTimer clock;
        clock.start();
        std::shuffle(copy.begin(), copy.end(), random);
        std::printf("  reference: std::shuffle of the paths          %9.1f ms\n",
                    double(clock.nsecsElapsed()) / 1e6);
    }

    TForm1 f1;
    f1.show();
    TForm2 f2(&f1);
    TListBox* list = f2.ListB;

    const double fill = timed(list, [&] {
        f2.Lists->AppendEntries(std::move(paths));
        f2.RenumberList();
        f2.UpdateCaption();
    });
    std::printf("  add all and show                              %9.1f ms%s\n", fill,
                layoutsText());

    const int middle = n / 2;
    f2.ListB->SetFirstVisibleRow(middle);
    QApplication::processEvents();
    const int before = f2.ListB->FirstVisibleRow();
    const double renumber = timed(list, [&] { f2.RenumberList(); });
    const int after = f2.ListB->FirstVisibleRow();
    std::printf(
        "  RenumberList                                  %9.1f ms  first visible row %d -> %d "
        "(%s)%s\n",
        renumber, before, after, before == after && before == middle ? "kept" : "MOVED",
        layoutsText());

    const double invert = timed(list, [&] { f2.InvertSelection1Click(); });
    std::printf("  Invert Selection                              %9.1f ms  (%d selected)%s\n",
                invert, f2.Lists->SelectedCountB(), layoutsText());

    f2.SetCurrentIndex(7);
    f2.ListB->SetFirstVisibleRow(middle);
    QApplication::processEvents();
    const double shuffle = timed(list, [&] { f2.Shufflelist1Click(); });
    const int shuffledRow = f2.ListB->FirstVisibleRow();
    std::printf(
        "  Shuffle list                                  %9.1f ms  first visible row %d (%s)%s\n",
        shuffle, shuffledRow, shuffledRow == middle ? "kept" : "MOVED", layoutsText());

    // A drag from a quarter of the way down to three quarters: the press
    // records the origin, the highlight follows the pointer, the release moves.
    f2.SetCurrentIndex(n / 4);
    f2.ListBMouseDown(Qt::LeftButton);
    f2.Lists->SetHighlightedRow(3 * n / 4);
    const double move = timed(list, [&] { f2.ListBMouseUp(Qt::LeftButton); });
    std::printf("  drag-move %7d -> %7d                     %9.1f ms  (current %d)%s\n", n / 4,
                3 * n / 4, move, f2.CurrentIndex(), layoutsText());

    f2.ListBClick(); // the moved row is highlighted; Delete removes it alone
    const double deleteRow = timed(list, [&] { f2.ListBKeyDown(Qt::Key_Delete, {}); });
    std::printf("  Delete key on one row                         %9.1f ms  (%d left)%s\n",
                deleteRow, f2.EntryCount(), layoutsText());

    const QByteArray rss = statusField("VmRSS:"), peak = statusField("VmHWM:");
    std::printf("  memory with the list shown: VmRSS %s, VmHWM %s (path text alone %.1f MB)\n",
                rss.constData(), peak.constData(), double(textBytes) / 1e6);

    const double clearAll = timed(list, [&] {
        f2.SelectAll1Click();
        f2.Clearselected1Click();
    });
    std::printf("  Select All + Clear Selected                   %9.1f ms  (%d left)%s\n", clearAll,
                f2.EntryCount(), layoutsText());
}

} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QByteArray root = QFile::encodeName(home.path());
    TestSupport::UsePrivateHome(root);
    qputenv("XDG_STATE_HOME", root + "/state");

    QApplication application(argc, argv);
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {10000, 100000, 1000000};
    std::printf("bench_playlist on %s\n", qPrintable(QApplication::platformName()));
    for (int n : counts)
        if (n > 0)
            benchOne(n);
    return 0;
}
