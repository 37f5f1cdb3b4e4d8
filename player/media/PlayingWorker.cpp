#include "player/media/PlayingWorker.h"

#include "platform/FullTransfer.h"
#include "platform/HelperFiles.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <gst/gst.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The commands, one byte each, followed by their argument.
constexpr char OpenCommand = 'o';
constexpr char PlayCommand = 'p';
constexpr char PauseCommand = 'a';
constexpr char StopCommand = 's';
constexpr char SeekCommand = 'k';
constexpr char StateCommand = 'q';

// A command that does not start pictures settles in milliseconds; the bound
// only keeps a wedged child from holding up the window.
constexpr int CommandTimeoutMs = 2000;
// Starting the child (loading the program and GStreamer's registry) comes on
// top of the open limit.
constexpr int StartMarginMs = 2000;
// No answer is this long; a length beyond it means the stream is out of step.
constexpr quint32 LongestFrame = 1 << 20;

const QString StoppedDevice = QStringLiteral("The file stopped the media device.");

QByteArray Answer(const QString& error, TMediaPlayer& player) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    const bool open = player.isOpen();
    out << error << open << quint8(player.MediaMode()) << player.MediaPosition()
        << (open ? player.MediaLength() : qint64(0)) << player.LastError();
    return Frame(body);
}

QString Carry(TMediaPlayer& player, char command, const QByteArray& argument) {
    QDataStream in(argument);
    try {
        switch (command) {
        case OpenCommand: {
            QByteArray path;
            qint32 width = 0, height = 0;
            in >> path >> width >> height;
            TMediaPlayer::SetScreenSize(width, height);
            player.FileName = path;
            player.OpenMedia();
            break;
        }
        case PlayCommand:
            player.PlayMedia();
            break;
        case PauseCommand:
            player.PauseMedia();
            break;
        case StopCommand:
            player.StopMedia();
            break;
        case SeekCommand: {
            qint64 ms = 0;
            in >> ms;
            player.SeekMedia(ms);
            break;
        }
        default:
            break;
        }
    } catch (const std::exception& error) {
        const QString reason = QString::fromUtf8(error.what());
        return reason.isEmpty() ? QStringLiteral("The file cannot be played.") : reason;
    }
    return {};
}

// What the sound server shows of the player's own stream, for the child's to
// look the same: the volume controls and the desktop find the player by its
// name and process.
std::vector<QByteArray> StreamIdentity() {
    const char* name = g_get_application_name();
    if (!name)
        name = "GStreamer-based audio application";
    const QByteArray binary = QFile::encodeName(
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName());
    return {QByteArray("PULSE_PROP_OVERRIDE_application.name=") + name,
            "PULSE_PROP_OVERRIDE_application.process.id=" + QByteArray::number(getpid()),
            "PULSE_PROP_OVERRIDE_application.process.binary=" + binary};
}

// Starts a child; it makes itself ready (GStreamer, the sinks, FFmpeg's
// decoders when asked to) while the caller goes on.
bool Spawn(pid_t& child, int& socket, bool withDecoders) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    const QByteArray program = TPlayingWorker::Program();
    QByteArray parent = QByteArray::number(getpid());
    std::vector<QByteArray> environment = StreamIdentity();
    const size_t own = environment.size();
    for (char** entry = environ; *entry; ++entry) {
        bool replaced = false;
        for (size_t i = 0; i < own; ++i) {
            const QByteArray& mine = environment[i];
            replaced =
                replaced || std::strncmp(*entry, mine.constData(), mine.indexOf('=') + 1) == 0;
        }
        if (!replaced)
            environment.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char play[] = "--play";
    char decoders[] = "--ffmpeg";
    char* argv[] = {const_cast<char*>(program.constData()), play, parent.data(),
                    withDecoders ? decoders : nullptr, nullptr};

    // The child's standard input and output are its end of the socket.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    // Nothing the window's thread holds back is held back from the child.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int failed =
        posix_spawn(&pid, program.constData(), &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        return false;
    }
    child = pid;
    socket = ends[0];
    return true;
}

// A child started ahead of the file that needs it, so that opening costs
// the window no more than prerolling: starting the program and GStreamer
// takes some 50 ms, loading FFmpeg's libraries as long again. While such a
// file plays, the next child loads them too (the tracks of an album come one
// after the other); once a file plays in the player itself, it is replaced
// by one that does not, and holds only some 5 MB of its own.
pid_t sparePid = 0;
int spareSocket = -1;
bool spareWithDecoders = false;

void StartSpare(bool withDecoders) {
    if (sparePid != 0)
        return;
    if (!Spawn(sparePid, spareSocket, withDecoders))
        sparePid = 0;
    spareWithDecoders = withDecoders;
}

// The spare, unless it has died meanwhile.
bool TakeSpare(pid_t& child, int& socket) {
    if (sparePid == 0)
        return false;
    child = std::exchange(sparePid, 0);
    socket = std::exchange(spareSocket, -1);
    if (::waitpid(child, nullptr, WNOHANG) == 0)
        return true;
    ::close(socket);
    return false;
}

} // namespace

bool TPlayingWorker::Start() {
    const bool started = TakeSpare(pid_, socket_) || Spawn(pid_, socket_, true);
    StartSpare(true);
    return started;
}

void TPlayingWorker::LightenSpare() {
    if (sparePid == 0 || !spareWithDecoders)
        return;
    pid_t child = 0;
    int socket = -1;
    if (TakeSpare(child, socket)) {
        ::close(socket);
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    StartSpare(false);
}

TPlayingWorker::~TPlayingWorker() {
    End();
}

QByteArray TPlayingWorker::Program() {
    return HelperFile("tolvane-tester");
}

QString TPlayingWorker::Call(char command, const QByteArray& argument, int timeoutMs) {
    if (socket_ < 0) {
        BreakOff();
        return {};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!SendFully(socket_, Frame(QByteArray(1, command) + argument))) {
        BreakOff();
        return {};
    }
    QByteArray received;
    quint32 size = 0;
    for (;;) {
        if (received.size() >= qsizetype(sizeof size)) {
            std::memcpy(&size, received.constData(), sizeof size);
            if (size > LongestFrame) {
                BreakOff();
                return {};
            }
            if (received.size() >= qsizetype(sizeof size + size))
                break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{socket_, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&wait, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        char chunk[4096];
        const ssize_t got = ready > 0 ? ::recv(socket_, chunk, sizeof chunk, 0) : -1;
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) { // silent past the deadline, or gone
            silent_ = ready == 0;
            BreakOff();
            return {};
        }
        received.append(chunk, qsizetype(got));
    }
    QDataStream in(received.mid(sizeof size, size));
    QString error;
    quint8 mode = 0;
    in >> error >> state_.open >> mode >> state_.position >> state_.length >> state_.lastError;
    state_.mode = TMPModes(mode);
    return error;
}

void TPlayingWorker::Kill() {
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = 0;
}

void TPlayingWorker::BreakOff() {
    Kill();
    // As a stream that breaks off while playing: the track has ended, so
    // that the player goes on with the next one.
    broken_ = true;
    state_.mode = TMPModes::mpStopped;
    state_.position = state_.length;
    state_.lastError = StoppedDevice;
}

void TPlayingWorker::Open(const QByteArray& path, int screenWidth, int screenHeight) {
    End();
    broken_ = silent_ = false;
    state_ = {};
    if (!Start())
        throw EMCIDeviceError("The media device cannot be started.");
    QByteArray argument;
    QDataStream out(&argument, QIODevice::WriteOnly);
    out << path << qint32(screenWidth) << qint32(screenHeight);
    const QString error = Call(OpenCommand, argument, TMediaPlayer::OpenTimeoutMs + StartMarginMs);
    const QString reason = !broken_  ? error
                           : silent_ ? QStringLiteral("The file did not open within %1 seconds.")
                                           .arg(TMediaPlayer::OpenTimeoutMs / 1000)
                                     : StoppedDevice;
    if (!reason.isEmpty() || !state_.open) {
        End();
        broken_ = false;
        throw EMCIDeviceError(
            (reason.isEmpty() ? QStringLiteral("The file cannot be played.") : reason)
                .toStdString());
    }
}

void TPlayingWorker::Play() {
    if (broken_)
        throw EMCIDeviceError(state_.lastError.toStdString());
    // Pictures move to their window when they first play, which takes a
    // preroll of its own.
    const QString error = Call(PlayCommand, {}, TMediaPlayer::OpenTimeoutMs + StartMarginMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Pause() {
    const QString error = broken_ ? QString() : Call(PauseCommand, {}, CommandTimeoutMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Stop() {
    const QString error = broken_ ? QString() : Call(StopCommand, {}, CommandTimeoutMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Seek(qint64 ms) {
    QByteArray argument;
    QDataStream out(&argument, QIODevice::WriteOnly);
    out << ms;
    const QString error = broken_ ? QString() : Call(SeekCommand, argument, CommandTimeoutMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Refresh() {
    if (!broken_)
        Call(StateCommand, {}, CommandTimeoutMs);
}

void TPlayingWorker::End() {
    if (pid_ <= 0)
        return;
    // The end of its input tells the child to close the file and leave; one
    // that has not left once its pipeline had the time to stop is killed.
    ::close(socket_);
    socket_ = -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(TMediaPlayer::StopTimeoutMs +
                                                                   CommandTimeoutMs / 4);
    for (;;) {
        const pid_t ended = ::waitpid(pid_, nullptr, WNOHANG);
        if (ended == pid_ || (ended < 0 && errno != EINTR)) {
            pid_ = 0;
            return;
        }
        if (Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Kill();
}

int TPlayingWorker::Run(int input, int output, bool loadDecoders) {
    TMediaPlayer::AllowEveryDecoder();
    // Made ready before the first command, which may be a while coming.
    TMediaPlayer::AudioSinkName();
    TMediaPlayer::VideoSinkName();
    // The plugins every file here needs; FFmpeg's when asked for. Loading
    // them is most of the first open's time.
    for (const char* name : {"playback", "typefindfunctions", "coreelements", "audioconvert",
                             "audioresample", "volume", "videoconvertscale", "asf", "libav"}) {
        if (!loadDecoders && std::strcmp(name, "libav") == 0)
            continue;
        if (GstPlugin* plugin = gst_plugin_load_by_name(name))
            gst_object_unref(plugin);
    }
    TMediaPlayer player(nullptr, TMediaPlayer::Output::Real);
    for (;;) {
        quint32 size = 0;
        QByteArray body;
        if (!ReadFully(input, &size, sizeof size) || size == 0 || size > LongestFrame)
            break;
        body.resize(qsizetype(size));
        if (!ReadFully(input, body.data(), size))
            break;
        const QString error = Carry(player, body[0], body.mid(1));
        if (!SendFully(output, Answer(error, player)))
            break;
    }
    player.CloseMedia();
    return 0;
}
