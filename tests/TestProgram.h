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

} // namespace TestSupport
