#include "TestSupport.h"

#include "platform/MessageBox.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdio>

namespace TestSupport {

QString MediaDir() { return qEnvironmentVariable("TOLVANE_TEST_MEDIA"); }

QByteArray Media(const QString& name) {
    return QFile::encodeName(QDir(MediaDir()).filePath(name));
}

MessageRecorder::MessageRecorder() {
    SetMessagePresenter([this](const QString& text, bool isError) {
        (isError ? errors : messages) << text;
    });
}

MessageRecorder::~MessageRecorder() { SetMessagePresenter(nullptr); }

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

} // namespace TestSupport
