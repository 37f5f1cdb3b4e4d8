// How long a track change takes: Next (with its 100-step delay) until the
// playing child reports that the new track's position moves (its stream
// sounds), over MP3, WAV, WMA, MIDI, AVI and MPEG files in turn. Two
// references from the same run: gst-launch-1.0 playbin started on the same
// file until its pipeline plays (a fresh process: GStreamer's start, the
// plugins and the sound server's connection included), taken right after
// each change; and the same change done by GStreamer alone in this
// process, one playbin taken to NULL, given the next file and set playing.
//
//   build/bench_trackchange [media folder] [changes]   (default: $TOLVANE_TEST_MEDIA, 36)
//
// The child that plays is the tolvane-tester beside the bench: a copy of
// the bench in a folder with a link to another build's tolvane-tester
// measures that build's child.
//
// Then the end of a track: each track is sought to shortly before its end
// and played; from the moment the child reports the end, the player does
// what its second's tick does there (closes the track, opens the next one
// and plays it) until the new track's position moves.
//
// Runs on Qt's offscreen platform unless a display is set.

#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QUrl>

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char* const Files[] = {"tone.mp3", "tone.wav", "tone.wma",
                             "tune.mid", "clip.avi", "clip.mpg"};
// The change that brings the first file with pictures (clip.avi).
constexpr int FirstVideo = 3;

struct Figures {
    double median = 0, min = 0, max = 0;
};

Figures Summary(std::vector<double> times) {
    Figures figures;
    if (times.empty())
        return figures;
    std::sort(times.begin(), times.end());
    figures.median = times[times.size() / 2];
    figures.min = times.front();
    figures.max = times.back();
    return figures;
}

// The changes to each format: change i plays Files[(i + 1) % 6].
std::vector<double> To(const std::vector<double>& times, int format) {
    std::vector<double> to;
    for (size_t i = 0; i < times.size(); ++i)
        if (int((i + 1) % 6) == format)
            to.push_back(times[i]);
    return to;
}

// Lets the track play on a while, as a listener would before pressing Next.
void PlayOn(int ms) {
    QElapsedTimer playing;
    playing.start();
    while (playing.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

QString PathOf(const QString& media, int format) {
    return media + QLatin1Char('/') + QLatin1String(Files[format]);
}

// gst-launch-1.0 playbin from its start until its pipeline plays; ms, or -1.
double LaunchUntilPlaying(const QString& path) {
    QProcess launch;
    QElapsedTimer timer;
    timer.start();
    launch.start(QStringLiteral("gst-launch-1.0"),
                 {QStringLiteral("-m"), QStringLiteral("playbin"),
                  QStringLiteral("uri=") + QUrl::fromLocalFile(path).toString()});
    double playing = -1;
    while (playing < 0 && timer.elapsed() < 10000 &&
           (launch.canReadLine() || launch.waitForReadyRead(10000))) {
        while (launch.canReadLine()) {
            const QByteArray line = launch.readLine();
            if (line.contains("from element \"playbin0\" (state-changed)") &&
                line.contains("new-state=(GstState)playing")) {
                playing = double(timer.nsecsElapsed()) / 1e6;
                break;
            }
        }
    }
    launch.kill();
    launch.waitForFinished(5000);
    return playing;
}

// The player's windows with one file of each format, the first playing.
struct Player {
    TForm1 form1;
    TForm2 form2{&form1};
    explicit Player(const QString& media) {
        form1.Form2 = &form2;
        for (int format = 0; format < 6; ++format)
            form2.AppendEntry(QFile::encodeName(PathOf(media, format)));
        form2.SetCurrentIndex(0);
        form1.PlayCurrentEntry();
    }
};

std::vector<double> PlayerChanges(const QString& media, int changes, std::vector<double>& delays,
                                  std::vector<double>& launches) {
    Player player(media);
    TForm1& form1 = player.form1;
    PlayOn(300);
    std::vector<double> times;
    for (int change = 0; change < changes; ++change) {
        QElapsedTimer timer;
        timer.start();
        form1.TrackChangeDelay();
        delays.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        form1.NextClick();
        // The new stream plays once its position moves.
        while (!(form1.MP->MediaMode() == TMPModes::mpPlaying && form1.MP->MediaPosition() > 0) &&
               timer.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        PlayOn(300);
        launches.push_back(LaunchUntilPlaying(PathOf(media, (change + 1) % 6)));
    }
    return times;
}

// The end of each track until the next one plays, as the player's tick
// takes it under the play order "Con".
std::vector<double> EndChanges(const QString& media, int changes) {
    Player playing(media);
    TForm1& form1 = playing.form1;
    std::vector<double> times;
    for (int change = 0; change < changes; ++change) {
        PlayOn(300);
        TMediaPlayer& player = *form1.MP;
        player.SeekMedia(std::max<qint64>(0, player.MediaLength() - 400));
        player.PlayMedia();
        QElapsedTimer waited;
        waited.start();
        while (player.MediaPosition() < player.MediaLength() && waited.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        QElapsedTimer timer;
        timer.start();
        player.CloseMedia();
        form1.SelectNextEntry();
        form1.PlayCurrentEntry();
        while (!(player.MediaMode() == TMPModes::mpPlaying && player.MediaPosition() > 0) &&
               timer.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return times;
}

std::vector<double> ReferenceChanges(const QString& media, int changes) {
    gst_init(nullptr, nullptr);
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    std::vector<double> times;
    for (int change = 0; change <= changes; ++change) {
        const QByteArray path = QFile::encodeName(PathOf(media, change % 6));
        gchar* uri = gst_filename_to_uri(path.constData(), nullptr);
        QElapsedTimer timer;
        timer.start();
        gst_element_set_state(playbin, GST_STATE_NULL);
        g_object_set(playbin, "uri", uri, nullptr);
        g_free(uri);
        gst_element_set_state(playbin, GST_STATE_PLAYING);
        gint64 position = 0;
        while (!(gst_element_query_position(playbin, GST_FORMAT_TIME, &position) && position > 0) &&
               timer.elapsed() < 10000)
            g_usleep(500);
        if (change > 0) // the first loads the plugins
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
        else
            times.push_back(0);
        PlayOn(300);
    }
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);
    return times;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString media =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : qEnvironmentVariable("TOLVANE_TEST_MEDIA");
    const int changes = argc > 2 ? std::atoi(argv[2]) : 36;
    if (media.isEmpty() || !QFile::exists(media + QStringLiteral("/tone.mp3"))) {
        std::fprintf(stderr, "usage: bench_trackchange MEDIA_FOLDER [CHANGES] (made by "
                             "tests/make-media)\n");
        return 2;
    }
    std::vector<double> delays, launches;
    const std::vector<double> player = PlayerChanges(media, changes, delays, launches);
    const std::vector<double> ends = EndChanges(media, changes);
    std::vector<double> reference = ReferenceChanges(media, changes);
    reference.erase(reference.begin());
    const auto line = [](const char* label, const std::vector<double>& times) {
        const Figures f = Summary(times);
        std::printf("%-22s %8.1f %8.1f %8.1f\n", label, f.median, f.min, f.max);
    };
    const auto compared = [](const char* label, const std::vector<double>& times,
                             const std::vector<double>& reference) {
        const Figures f = Summary(times), r = Summary(reference);
        std::printf("%-22s %8.1f %8.1f %8.1f %10.1f %8.2f\n", label, f.median, f.min, f.max,
                    r.median, r.median > 0 ? f.median / r.median : 0.0);
    };
    std::printf("%d track changes: Next (its 100-step delay included) until the new stream plays\n",
                changes);
    std::printf("beside gst-launch-1.0 playbin on the same file, from its start until it plays\n");
    std::printf("%-22s %8s %8s %8s %10s %8s\n", "to", "median", "min", "max", "gst-launch",
                "ratio");
    compared("any", player, launches);
    for (int format = 0; format < 6; ++format)
        compared(Files[format], To(player, format), To(launches, format));
    line("the delay alone", delays);
    std::printf("the end of a track until the next one plays\n");
    line("any", ends);
    for (int format = 0; format < 6; ++format)
        line(Files[format], To(ends, format));
    if (changes > FirstVideo)
        std::printf("the session's first video (%s): Next %.1f, the end of a track %.1f\n",
                    Files[FirstVideo + 1], player[FirstVideo], ends[FirstVideo]);
    std::printf("reference: playbin alone, given the next file\n");
    line("any", reference);
    for (int format = 0; format < 6; ++format)
        line(Files[format], To(reference, format));
    return 0;
}
