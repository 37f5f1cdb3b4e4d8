#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Shared helpers of the tests.
namespace TestSupport {

// The folder of test media made by tests/make-media (TOLVANE_TEST_MEDIA);
// empty when the tests run outside tools/with-test-env.
QString MediaDir();
// A file of the test media by name, e.g. "tone.mp3"; skips the calling test
// when the media were not made.
QByteArray Media(const QString& name);

// Records message boxes instead of showing them.
struct MessageRecorder {
    MessageRecorder();
    ~MessageRecorder();
    QStringList messages;
    QStringList errors;
};

} // namespace TestSupport
