#include "TestSupport.h"

#include "player/media/MediaPlayer.h"
#include "windows/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <algorithm>
#include <unistd.h>

namespace TestSupport {

QString MediaDir() { return qEnvironmentVariable("TOLVANE_TEST_MEDIA"); }

QByteArray Media(const QString& name) {
    return QFile::encodeName(QDir(MediaDir()).filePath(name));
}

QString MediaDirArgument(int argc, char** argv) {
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : MediaDir();
    if (dir.isEmpty()) {
        std::fprintf(stderr, "usage: %s MEDIA-FOLDER (or run under with-test-env)\n",
                     qPrintable(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName()));
        std::exit(2);
    }
    return dir;
}

void UsePrivateHome(const QByteArray& root) {
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

MessageRecorder::MessageRecorder() {
    SetMessagePresenter([this](const QString& text, bool isError) {
        (isError ? errors : messages) << text;
    });
}

MessageRecorder::~MessageRecorder() { SetMessagePresenter(nullptr); }

bool MediaDeviceWorks() {
    TMediaPlayer probe;
    probe.FileName = Media(QStringLiteral("tone.wav"));
    try {
        probe.OpenMedia();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

QByteArray LongMidi(int minutes) {
    const auto bigEndian = [](QByteArray& out, quint32 value, int bytes) {
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            out.append(char((value >> shift) & 0xff));
    };
    // 480 ticks a quarter at 500000 us a quarter; an eighth is 240 ticks,
    // written as the variable-length quantity 0x81 0x70.
    QByteArray track("\x00\xff\x51\x03\x07\xa1\x20\x00\xc0\x00", 10);
    const char notes[] = {0x3c, 0x3e, 0x40, 0x41, 0x43, 0x45, 0x47, 0x48};
    for (int i = 0; i < minutes * 60 * 4; ++i) {
        const char note = notes[i % 8];
        track.append("\x00\x90", 2).append(note).append('\x64');
        track.append("\x81\x70\x80", 3).append(note).append('\x40');
    }
    track.append("\x00\xff\x2f\x00", 4);
    QByteArray file("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xe0", 14);
    file.append("MTrk");
    bigEndian(file, quint32(track.size()), 4);
    return file + track;
}

void WriteFile(const QByteArray& path, const QByteArray& content) {
    std::FILE* file = std::fopen(path.constData(), "wb");
    if (!file)
        qFatal("cannot write %s", path.constData());
    std::fwrite(content.constData(), 1, size_t(content.size()), file);
    std::fclose(file);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
}

FileSizeLimit::~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }

QList<ChildProcess> ChildrenNamed(const QByteArray& program) {
    QList<ChildProcess> children;
    const QByteArray self = QByteArray::number(getpid());
    const QByteArray command = '(' + program + ')';
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry[0].isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...: the command may hold blanks and brackets.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self && line.contains(command))
            children.append({pid_t(entry.toInt()), fields[0].at(0), fields.value(19).toLongLong()});
    }
    std::sort(children.begin(), children.end(),
              [](const ChildProcess& a, const ChildProcess& b) { return a.started < b.started; });
    return children;
}

} // namespace TestSupport
