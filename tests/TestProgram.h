#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace TestSupport {

// A state folder of the test's own for the real program (XDG_STATE_HOME):
// the automatic playlist it reads and writes and the socket of the one
// running copy are the test's, and no other run's.
class StateFolder : public QTemporaryDir {
public:
    // The automatic playlist, read at start and written at the end.
    QString playlistPath() const;
    // Writes the automatic playlist the next start reads.
    void writePlaylist(const QByteArray& content) const;
    // `base` with this folder as the state folder.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;
};

// Starts the real program (TOLVANE_PROGRAM) in `player` with `env`, its
// error output passed on to the test's, and waits until it runs.
void StartProgram(QProcess& player, const QProcessEnvironment& env,
                  const QStringList& arguments = {});

// A display of the test's own (Xvfb of the given screen size), so that no
// other program's windows meet the player's.
class PrivateDisplay {
public:
    explicit PrivateDisplay(const QString& screen = QStringLiteral("1280x1024x24"));
    ~PrivateDisplay();
    QString name; // empty when Xvfb did not start

private:
    QProcess xvfb_;
};

} // namespace TestSupport
