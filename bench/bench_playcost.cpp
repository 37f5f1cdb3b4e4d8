// What playing a file costs the machine, beside `gst-launch-1.0 playbin` on
// the same file in the same run:
//  - CPU: a 30 s WMA played from the start of the process to the end of its
//    sound-server stream, the player and every process under it (children
//    that outlive it included, which this bench adopts and reaps);
//  - wake-ups: the context switches (voluntary and not) of every thread of
//    the player and its children over 10 s of a playing MP3, and of a
//    playing AVI (25 pictures a second, shown in a window: run on a display);
//  - first sound: from the start of the process to the first moment its
//    stream on the sound server runs (is no longer corked), for both files,
//    with GStreamer's registry warm, over five starts of each a round;
//  - children left: processes of the player still there when it has ended
//    on SIGTERM.
// The player is started as a user would (`tolvane FILE`), each run with
// folders of its own for settings, data and state (so no playlist carries
// over) in the one home and with the one cache (GStreamer's registry) a
// user has: the registry notes the plugin folders under HOME, and a home of
// each run's own would have it look at those plugins again at every start.
// Rounds interleave the programs.
//
//   build/bench_playcost [--first-sound] [rounds] [other player ...]
//
// The player next to the bench is measured, and each other player given
// (say /work/before/build/tolvane). With --first-sound, only the first
// sound is (a few minutes instead of some ten for three programs), and
// also that of the player's sound path without its window: the child
// started as `tolvane FILE` starts it, and a player in the bench's own
// process that opens the file and plays it, as the window would. The
// difference from `tolvane FILE` is what the window's start costs the
// first sound on this machine. Run under tools/with-test-env: display,
// private sound server.

#include "player/media/ChildStart.h"
#include "player/media/MediaPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WmaSeconds = 30;
constexpr int Mp3Seconds = 15;
constexpr int AviSeconds = 15;
// Starts a round adds for the first sound alone, of each file.
constexpr int ExtraStarts = 4;
constexpr int SettleSeconds = 2;
constexpr int CountSeconds = 10;

// What the sound server says of the streams, by owner.
class StreamWatch {
public:
    bool Start() {
        loop_ = pa_threaded_mainloop_new();
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "bench_playcost");
        pa_context_set_state_callback(context_, &StreamWatch::ContextState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
            return false;
        pa_threaded_mainloop_lock(loop_);
        pa_threaded_mainloop_start(loop_);
        while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
                pa_threaded_mainloop_unlock(loop_);
                return false;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        pa_context_set_subscribe_callback(context_, &StreamWatch::Event, this);
        pa_operation_unref(
            pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
        pa_threaded_mainloop_unlock(loop_);
        return true;
    }

    // Forgets what was seen; from now on streams of pid count.
    void Watch(pid_t pid) {
        std::lock_guard<std::mutex> hold(lock_);
        pid_ = pid;
        firstRunning_ = {};
        ended_ = {};
        streams_.clear();
    }
    // When a stream of the watched process first ran; zero while none has.
    Clock::time_point FirstRunning() {
        std::lock_guard<std::mutex> hold(lock_);
        return firstRunning_;
    }
    // When a stream that ran for at least `least` went away; zero until then.
    Clock::time_point Ended() {
        std::lock_guard<std::mutex> hold(lock_);
        return ended_;
    }
    void EndAfter(std::chrono::milliseconds least) {
        std::lock_guard<std::mutex> hold(lock_);
        least_ = least;
    }

private:
    struct Stream {
        bool ours = false;
        Clock::time_point running{};
    };

    static void ContextState(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<StreamWatch*>(self)->loop_, 0);
    }
    static void Event(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                      void* data) {
        auto* self = static_cast<StreamWatch*>(data);
        const auto now = Clock::now();
        if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
            std::lock_guard<std::mutex> hold(self->lock_);
            const auto it = self->streams_.find(index);
            if (it != self->streams_.end() && it->second.ours &&
                it->second.running != Clock::time_point{} &&
                now - it->second.running >= self->least_ && self->ended_ == Clock::time_point{})
                self->ended_ = now;
            self->streams_.erase(index);
            return;
        }
        pa_operation* info =
            pa_context_get_sink_input_info(context, index, &StreamWatch::Info, self);
        if (info)
            pa_operation_unref(info);
    }
    static void Info(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
        if (eol || !info)
            return;
        auto* self = static_cast<StreamWatch*>(data);
        const auto now = Clock::now();
        const char* owner = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        std::lock_guard<std::mutex> hold(self->lock_);
        Stream& stream = self->streams_[info->index];
        stream.ours = owner && std::atol(owner) == self->pid_;
        if (!stream.ours || info->corked)
            return;
        if (stream.running == Clock::time_point{})
            stream.running = now;
        if (self->firstRunning_ == Clock::time_point{})
            self->firstRunning_ = now;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::mutex lock_;
    pid_t pid_ = 0;
    Clock::time_point firstRunning_{}, ended_{};
    std::chrono::milliseconds least_{0};
    std::map<uint32_t, Stream> streams_;
};

StreamWatch watch;

// Every process under pid (this bench adopts orphans, so a child that
// outlives the player is found under the bench).
std::vector<pid_t> Descendants(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(name.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.emplace(pid_t(fields[1].toInt()), pid);
    }
    std::vector<pid_t> found{root};
    for (size_t i = 0; i < found.size(); ++i) {
        const auto [from, to] = children.equal_range(found[i]);
        for (auto it = from; it != to; ++it)
            found.push_back(it->second);
    }
    return found;
}

long long ContextSwitches(pid_t root) {
    long long sum = 0;
    for (pid_t pid : Descendants(root)) {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile status(tasks + QLatin1Char('/') + task + QStringLiteral("/status"));
            if (!status.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("voluntary_ctxt_switches:") ||
                    line.startsWith("nonvoluntary_ctxt_switches:"))
                    sum += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return sum;
}

struct Run {
    double firstSoundMs = -1;
    double cpuMs = 0;
    double wakeups = -1;
    int childrenLeft = 0;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuMs(const rusage& usage) {
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

// Folders of the run's own for settings, data and state, so that no
// playlist or settings carry over; the home and the cache stay.
std::vector<QByteArray> Environment(const QString& folder) {
    std::vector<QByteArray> entries;
    for (char** entry = environ; *entry; ++entry) {
        const QByteArray each(*entry);
        if (!each.startsWith("XDG_CONFIG_HOME=") && !each.startsWith("XDG_DATA_HOME=") &&
            !each.startsWith("XDG_STATE_HOME="))
            entries.push_back(each);
    }
    const QByteArray base = QFile::encodeName(folder);
    entries.push_back("XDG_CONFIG_HOME=" + base + "/.config");
    entries.push_back("XDG_DATA_HOME=" + base + "/.local/share");
    entries.push_back("XDG_STATE_HOME=" + base + "/.local/state");
    return entries;
}

pid_t Spawn(const QList<QByteArray>& arguments, const std::vector<QByteArray>& environment) {
    std::vector<QByteArray> words(arguments.begin(), arguments.end());
    std::vector<char*> argv, envp;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> entries = environment;
    for (QByteArray& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? 0 : pid;
}

bool Exited(pid_t pid, rusage& usage) {
    int status = 0;
    return wait4(pid, &status, WNOHANG, &usage) == pid;
}

// Reaps the orphans the bench adopted from the run, adding their CPU.
int ReapOrphans(double& cpuMs) {
    std::vector<pid_t> left = Descendants(getpid());
    left.erase(left.begin());
    const int count = int(left.size());
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    for (pid_t pid : left) {
        rusage usage{};
        while (!Exited(pid, usage)) {
            // A grandchild its own parent has reaped is gone, not ours to wait for.
            if (::kill(pid, 0) != 0 && errno == ESRCH)
                break;
            if (Clock::now() > deadline)
                ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        cpuMs += CpuMs(usage);
    }
    return count;
}

// The row of the sound path without the window.
const QByteArray WithoutWindow = "(sound path, no window)";

// Until the first sound only: the child started as the program's start
// starts it, handed to a player here, which opens the file and plays it.
Run PlayWithoutWindow(const QByteArray& file) {
    Run run;
    const auto start = Clock::now();
    watch.Watch(getpid());
    const std::string path = file.toStdString();
    int socket = -1;
    const pid_t child = StartPlayingChild(NamedForFFmpeg(path), socket, path);
    if (child <= 0)
        return run;
    qputenv(StartedChildVariable, QByteArray::fromStdString(DescribeStartedChild(child, socket)));
    TMediaPlayer::TakeStartedChild(true);
    TMediaPlayer player;
    player.FileName = file;
    player.OpenMedia();
    player.PlayMedia();
    const auto limit = start + std::chrono::seconds(20);
    while (run.firstSoundMs < 0 && Clock::now() < limit) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto running = watch.FirstRunning();
        if (running != Clock::time_point{})
            run.firstSoundMs = Ms(running - start);
    }
    return run;
}

// Plays file with a player (the reference when player is empty).
// How long a run lasts: until the stream ends, until the wake-ups are
// counted (after the stream has run SettleSeconds), or until it first runs.
enum class Until { End, WakeUpsCounted, FirstSound };

Run Play(const QByteArray& player, const QByteArray& file, int seconds, Until until) {
    if (player == WithoutWindow)
        return PlayWithoutWindow(file);
    const bool wakeups = until == Until::WakeUpsCounted;
    Run run;
    QTemporaryDir folders;
    QList<QByteArray> arguments;
    if (player.isEmpty())
        arguments = {"gst-launch-1.0", "-q", "playbin", "uri=file://" + file};
    else
        arguments = {player, file};
    const auto start = Clock::now();
    const pid_t pid = Spawn(arguments, Environment(folders.path()));
    if (pid <= 0)
        return run;
    watch.Watch(pid);
    watch.EndAfter(std::chrono::milliseconds(seconds * 500));
    rusage usage{};
    bool exited = false;
    const auto limit = start + std::chrono::seconds(seconds + 20);
    long long counted = -1;
    Clock::time_point countFrom{};
    while (!exited && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        exited = Exited(pid, usage);
        const auto running = watch.FirstRunning();
        if (running != Clock::time_point{} && run.firstSoundMs < 0)
            run.firstSoundMs = Ms(running - start);
        if (wakeups && running != Clock::time_point{} && counted < 0 && !exited &&
            Clock::now() - running >= std::chrono::seconds(SettleSeconds)) {
            counted = ContextSwitches(pid);
            countFrom = Clock::now();
        }
        if (counted >= 0 && !exited &&
            Clock::now() - countFrom >= std::chrono::seconds(CountSeconds)) {
            run.wakeups =
                double(ContextSwitches(pid) - counted) / Ms(Clock::now() - countFrom) * 1e3;
            break;
        }
        if (until == Until::End && watch.Ended() != Clock::time_point{})
            break;
        if (until == Until::FirstSound && run.firstSoundMs >= 0)
            break;
    }
    if (!exited) {
        ::kill(pid, SIGTERM);
        int status = 0;
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
    }
    run.cpuMs = CpuMs(usage);
    run.childrenLeft = ReapOrphans(run.cpuMs);
    return run;
}

bool Make(const QString& pipeline) {
    return QProcess::execute(QStringLiteral("gst-launch-1.0"),
                             QStringList{QStringLiteral("-q")} +
                                 QProcess::splitCommand(pipeline)) == 0;
}

double Median(std::vector<double> values) {
    values.erase(std::remove(values.begin(), values.end(), -1.0), values.end());
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int first = 1;
    const bool firstSoundOnly = argc > 1 && std::strcmp(argv[1], "--first-sound") == 0;
    if (firstSoundOnly)
        ++first;
    const int rounds = argc > first ? std::max(1, std::atoi(argv[first])) : 3;
    std::vector<QByteArray> players{""};
    players.push_back(QFile::encodeName(QCoreApplication::applicationDirPath() + "/tolvane"));
    for (int i = first + 1; i < argc; ++i)
        players.push_back(argv[i]);
    if (firstSoundOnly)
        players.push_back(WithoutWindow);

    QTemporaryDir media;
    const QByteArray wma = QFile::encodeName(media.filePath(QStringLiteral("tone.wma")));
    const QByteArray mp3 = QFile::encodeName(media.filePath(QStringLiteral("tone.mp3")));
    // 1024 samples a buffer at 44.1 kHz.
    const auto buffers = [](int seconds) { return QString::number(seconds * 44100 / 1024); };
    if (!Make(QStringLiteral("audiotestsrc num-buffers=%1 samplesperbuffer=1024 ! audioconvert ! "
                             "avenc_wmav2 ! asfmux ! filesink location=%2")
                  .arg(buffers(WmaSeconds), QFile::decodeName(wma))) ||
        !Make(QStringLiteral("audiotestsrc num-buffers=%1 samplesperbuffer=1024 ! audioconvert ! "
                             "lamemp3enc ! filesink location=%2")
                  .arg(buffers(Mp3Seconds), QFile::decodeName(mp3)))) {
        std::fprintf(stderr, "bench_playcost: cannot make the media with gst-launch-1.0\n");
        return 2;
    }
    const QByteArray avi = QFile::encodeName(media.filePath(QStringLiteral("clip.avi")));
    if (!Make(QStringLiteral("videotestsrc num-buffers=%1 ! "
                             "video/x-raw,width=320,height=240,framerate=25/1 ! jpegenc ! "
                             "avimux name=mux ! filesink location=%2 "
                             "audiotestsrc num-buffers=%3 samplesperbuffer=1024 ! "
                             "audio/x-raw,format=S16LE,rate=44100,channels=2 ! mux.")
                  .arg(QString::number(AviSeconds * 25), QFile::decodeName(avi),
                       buffers(AviSeconds)))) {
        std::fprintf(stderr, "bench_playcost: cannot make the video with gst-launch-1.0\n");
        return 2;
    }
    // The registry, warm before the first run.
    QProcess inspect;
    inspect.setStandardOutputFile(QProcess::nullDevice());
    inspect.start(QStringLiteral("gst-inspect-1.0"), {QStringLiteral("playbin")});
    inspect.waitForFinished(60000);
    if (!watch.Start()) {
        std::fprintf(stderr, "bench_playcost: no sound server (run under tools/with-test-env)\n");
        return 2;
    }
    // Orphans of a run come here, to be counted and reaped.
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    struct Figures {
        std::vector<double> cpu, wakeups, videoWakeups, firstWma, firstMp3, left;
    };
    std::vector<Figures> figures(players.size());
    for (int round = 0; round < rounds; ++round)
        for (size_t p = 0; p < players.size(); ++p) {
            const Run cost =
                Play(players[p], wma, WmaSeconds, firstSoundOnly ? Until::FirstSound : Until::End);
            const Run wake = Play(players[p], mp3, Mp3Seconds,
                                  firstSoundOnly ? Until::FirstSound : Until::WakeUpsCounted);
            const Run video =
                firstSoundOnly ? Run{} : Play(players[p], avi, AviSeconds, Until::WakeUpsCounted);
            if (!firstSoundOnly)
                figures[p].cpu.push_back(cost.cpuMs);
            figures[p].firstWma.push_back(cost.firstSoundMs);
            figures[p].firstMp3.push_back(wake.firstSoundMs);
            // The first sound swings by half between two runs of the same
            // program here: more starts of each file steady its median.
            int extraLeft = 0;
            for (int start = 0; start < ExtraStarts; ++start) {
                const Run wmaStart = Play(players[p], wma, WmaSeconds, Until::FirstSound);
                const Run mp3Start = Play(players[p], mp3, Mp3Seconds, Until::FirstSound);
                figures[p].firstWma.push_back(wmaStart.firstSoundMs);
                figures[p].firstMp3.push_back(mp3Start.firstSoundMs);
                extraLeft += wmaStart.childrenLeft + mp3Start.childrenLeft;
            }
            figures[p].wakeups.push_back(wake.wakeups);
            figures[p].videoWakeups.push_back(video.wakeups);
            const int left =
                cost.childrenLeft + wake.childrenLeft + video.childrenLeft + extraLeft;
            figures[p].left.push_back(left);
            std::fprintf(stderr,
                         "round %d %s: cpu %.0f ms, first sound %.0f / %.0f ms, %.1f / %.1f "
                         "wake-ups/s, %d left\n",
                         round + 1, players[p].isEmpty() ? "gst-launch" : players[p].constData(),
                         cost.cpuMs, cost.firstSoundMs, wake.firstSoundMs, wake.wakeups,
                         video.wakeups, left);
        }

    std::printf("Medians of %d rounds; ratios against gst-launch-1.0 playbin on the same file.\n",
                rounds);
    std::printf("%-34s %12s %14s %14s %12s %12s %6s\n", "", "CPU, 30 s", "first sound",
                "first sound", "wake-ups/s", "wake-ups/s", "left");
    std::printf("%-34s %12s %14s %14s %12s %12s %6s\n", "program", "WMA (ms)", "WMA (ms)",
                "MP3 (ms)", "MP3", "AVI", "");
    const Figures& ref = figures[0];
    for (size_t p = 0; p < players.size(); ++p) {
        const Figures& f = figures[p];
        const QByteArray name =
            players[p].isEmpty() ? QByteArray("gst-launch-1.0 playbin") : players[p].right(34);
        int left = 0;
        for (double each : f.left)
            left += int(each);
        std::printf("%-34s %12.0f %14.0f %14.0f %12.1f %12.1f %6d\n", name.constData(),
                    Median(f.cpu), Median(f.firstWma), Median(f.firstMp3), Median(f.wakeups),
                    Median(f.videoWakeups), left);
        // A figure not measured (-1) has no ratio.
        const auto ratio = [](const std::vector<double>& mine, const std::vector<double>& theirs) {
            const double a = Median(mine), b = Median(theirs);
            return a < 0 || b <= 0 ? QByteArray("-") : QByteArray::number(a / b, 'f', 2);
        };
        if (p > 0)
            std::printf("%-34s %12s %14s %14s %12s %12s\n", "  ratio",
                        ratio(f.cpu, ref.cpu).constData(),
                        ratio(f.firstWma, ref.firstWma).constData(),
                        ratio(f.firstMp3, ref.firstMp3).constData(),
                        ratio(f.wakeups, ref.wakeups).constData(),
                        ratio(f.videoWakeups, ref.videoWakeups).constData());
    }
    return 0;
}
