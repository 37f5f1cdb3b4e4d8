#include "TestSupport.h"

#include "platform/MessageBox.h"

#include <QDir>
#include <QFile>

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

} // namespace TestSupport
