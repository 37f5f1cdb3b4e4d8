#pragma once

#include <QByteArray>
#include <QString>
#include <QList>
#include <QStringList>
#include <sys/resource.h>
#include <sys/types.h>

// Shared helpers of the tests.
namespace TestSupport {

// The folder of test media made by tests/make-media (TOLVANE_TEST_MEDIA);
// empty when the tests run outside tools/with-test-env.
QString MediaDir();
// A file of the test media by name, e.g. "tone.mp3"; skips the calling test
// when the media were not made.
QByteArray Media(const QString& name);
// For a benchmark: the media folder given as its first argument, or else
// MediaDir(); when there is neither, the run ends with the usage.
QString MediaDirArgument(int argc, char** argv);

// For a benchmark: HOME and the XDG configuration, data and cache folders in
// `root`, so that neither this process nor its children read the user's
// settings; without a display, Qt draws off screen.
void UsePrivateHome(const QByteArray& root);

// Records message boxes instead of showing them.
struct MessageRecorder {
    MessageRecorder();
    ~MessageRecorder();
    QStringList messages;
    QStringList errors;
};

// Whether the media device opens a test file (tone.wav); the cases that
// play skip without one.
bool MediaDeviceWorks();

// A Standard MIDI File of the given length, a piano playing eighth notes at
// 120 bpm, for tests that need a long MIDI file (too big to keep as media).
QByteArray LongMidi(int minutes);

// A child process of this one: its id, its state ('Z' once it has ended
// and is not yet reaped), and when it started, in clock ticks since boot.
struct ChildProcess {
    pid_t pid;
    char state;
    qint64 started;
};
// This process's children that run the program named (as /proc/PID/stat
// names it), zombies included, the oldest first.
QList<ChildProcess> ChildrenNamed(const QByteArray& program);

// Writes a file of the given bytes; the test run stops when it cannot.
void WriteFile(const QByteArray& path, const QByteArray& content);

// Lowers the largest file this process may write, so that a write runs into
// its end as it would into a full disk; root is held to it too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();

private:
    rlimit old_{};
};

} // namespace TestSupport
