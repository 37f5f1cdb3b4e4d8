// The start of the player up to its first painted playlist: the CPU time the
// process has used by then (dynamic linking, the command line, the check for
// a running copy on the session bus, window set-up, reading the automatic
// playlist, laying out and painting the list), beside the same figure for the
// smallest Qt program that shows a list, measured in the same run. The
// program is the player's own entry, RunPlayer, with a watch for the first
// paint added. Each figure is the median of several fresh processes, the runs
// of the reference and of the lists interleaved.
//
//   bench_start [count ...]        default: 0 100000 1000000 entries
//   bench_start --runs N ...       processes per figure (default 7)
//
// Run it under tools/with-test-env for a private display (without one it
// uses Qt's offscreen platform). It works in a temporary home, so the
// automatic playlist it writes and reads is never the user's.

#include "TestSupport.h"

#include "player/Program.h"
#include "playlist/ListBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <unistd.h>

namespace {

double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QElapsedTimer sinceMain;

double residentMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Reports the first paint of a list's viewport, once the whole frame it
// belongs to has been painted, and ends the process there.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_ && watched->parent() &&
            qobject_cast<QListView*>(watched->parent()) &&
            static_cast<QWidget*>(watched) ==
                qobject_cast<QListView*>(watched->parent())->viewport()) {
            seen_ = true;
            auto* list = qobject_cast<QListView*>(watched->parent());
            QTimer::singleShot(0, [list] {
                const double cpu = cpuMilliseconds();
                const double wall = double(sinceMain.nsecsElapsed()) / 1e6;
                const auto* box = qobject_cast<TListBox*>(list);
                std::printf("%.2f %.2f %d %d %.1f\n", cpu, wall, list->model()->rowCount(),
                            box ? box->LayoutCount() : -1, residentMegabytes());
                std::fflush(stdout);
                ::_exit(0);
            });
        }
        return false;
    }

private:
    bool seen_ = false;
};

int runReference(int argc, char* argv[]) {
    QApplication application(argc, argv);
    FirstPaint watch;
    application.installEventFilter(&watch);
    QWidget window;
    window.resize(259, 332);
    QStringListModel model;
    auto* list = new QListView(&window);
    list->setGeometry(4, 4, 254, 301);
    list->setUniformItemSizes(true);
    list->setModel(&model);
    window.show();
    return application.exec();
}

// The program itself, as its entry runs it with no arguments; only the
// first-paint watch is added.
int runProgram(char* argv0) {
    FirstPaint watch;
    char* arguments[] = {argv0, nullptr};
    return RunPlayer(1, arguments, [&watch](QApplication& application) {
        application.installEventFilter(&watch);
    });
}

QByteArray pathOf(int i) {
    // About 80 bytes, as a music collection's paths are.
    return ("/home/listener/Music/Artist " + QByteArray::number(i / 1000) + "/Album " +
            QByteArray::number(i / 12 % 100) + "/" + QByteArray::number(i).rightJustified(7, '0') +
            " - A track title.mp3")
               .leftJustified(76, '_') +
           ".mp3";
}

struct Sample {
    double cpu = 0, wall = 0, resident = 0;
    int rows = 0, layouts = 0;
};

Sample median(std::vector<Sample> samples) {
    auto mid = [&samples](auto field) {
        std::vector<double> values;
        for (const Sample& s : samples)
            values.push_back(s.*field);
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    Sample m;
    m.cpu = mid(&Sample::cpu);
    m.wall = mid(&Sample::wall);
    m.resident = mid(&Sample::resident);
    if (!samples.empty()) {
        m.rows = samples.back().rows;
        m.layouts = samples.back().layouts;
    }
    return m;
}

// One fresh process; nothing when it did not report.
std::optional<Sample> runOnce(const QString& mode, const QByteArray& stateHome) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), QFile::decodeName(stateHome));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
    child.waitForFinished(-1);
    Sample s;
    if (std::sscanf(child.readAllStandardOutput().constData(), "%lf %lf %d %d %lf", &s.cpu, &s.wall,
                    &s.rows, &s.layouts, &s.resident) != 5)
        return std::nullopt;
    return s;
}

} // namespace

int main(int argc, char* argv[]) {
    sinceMain.start();
    if (argc >= 3 && QByteArray(argv[1]) == "--child")
        return QByteArray(argv[2]) == "reference" ? runReference(argc, argv) : runProgram(argv[0]);

    QCoreApplication application(argc, argv);
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QByteArray root = QFile::encodeName(home.path());
    TestSupport::UsePrivateHome(root);

    int runs = 7;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty())
        counts = {0, 100000, 1000000};

    std::printf("bench_start: CPU time of the process at its first painted list, median of %d "
                "processes (%s)\n",
                runs, qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ? "X display" : "offscreen");
    // The lists first; then round after round, the reference and each list
    // in turn, so that a change in the machine's load falls on all of them.
    std::vector<QByteArray> states;
    std::vector<qint64> sizes;
    for (int count : counts) {
        const QByteArray state = root + "/state-" + QByteArray::number(count);
        QDir().mkpath(QFile::decodeName(state + "/tolvane"));
        QFile list(QFile::decodeName(state + "/tolvane/PlayList.plf"));
        qint64 bytes = 0;
        if (count > 0 && list.open(QIODevice::WriteOnly)) {
            QByteArray text;
            for (int i = 0; i < count; ++i) {
                text += pathOf(i) + "\r\n";
                if (text.size() > (1 << 20)) {
                    bytes += list.write(text);
                    text.clear();
                }
            }
            bytes += list.write(text);
            list.close();
        }
        states.push_back(state);
        sizes.push_back(bytes);
    }
    std::vector<Sample> referenceSamples;
    std::vector<std::vector<Sample>> programSamples(counts.size());
    for (int r = 0; r < runs; ++r) {
        if (const auto s = runOnce(QStringLiteral("reference"), root + "/state-none"))
            referenceSamples.push_back(*s);
        for (size_t c = 0; c < counts.size(); ++c)
            if (const auto s = runOnce(QStringLiteral("program"), states[c]))
                programSamples[c].push_back(*s);
    }

    const Sample reference = median(referenceSamples);
    std::printf("  reference: bare Qt window with an empty list   CPU %7.1f ms  wall %7.1f ms"
                "  resident %6.1f MiB\n",
                reference.cpu, reference.wall, reference.resident);
    for (size_t c = 0; c < counts.size(); ++c) {
        const Sample s = median(programSamples[c]);
        std::printf("  Tolvane, %7d entries (%5.1f MiB list)      CPU %7.1f ms  wall %7.1f ms"
                    "  resident %6.1f MiB  (%d rows shown, %d layout pass%s)\n",
                    counts[c], double(sizes[c]) / (1 << 20), s.cpu, s.wall, s.resident, s.rows,
                    s.layouts, s.layouts == 1 ? "" : "es");
        QFile::remove(QFile::decodeName(states[c] + "/tolvane/PlayList.plf"));
    }
    return 0;
}
