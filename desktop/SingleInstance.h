#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>

class QLocalServer;

// One running copy per automatic playlist, so that the playlist has one
// writer. The first copy becomes the running one and holds a lock (flock) in
// $XDG_RUNTIME_DIR until it ends; a copy started after it hands its paths
// over and ends.
//
// The copies find each other on the session bus, or, when there is none,
// through a local socket in $XDG_RUNTIME_DIR. The names are made from the
// folder that holds the automatic playlist: copies that keep their playlists
// apart (another XDG_STATE_HOME) run side by side.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Running,    // this is the running copy; openRequested() brings the others' paths
        HandedOver, // a running copy took the paths; this one should end
        Alone,      // neither a bus nor a socket: run as if no other copy existed
        Refused,    // a running copy holds the playlist but does not answer; end
    };

    explicit SingleInstance(const QByteArray& playlistFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome Start(const QByteArrayList& paths);

    // How long a second copy waits for the running one to answer.
    static constexpr int TimeoutMs = 10000;
    // The most a copy may hand over in one message; a longer one is refused
    // whole.
    static constexpr qsizetype MaxMessageBytes = 4 * 1024 * 1024;

    // The names both ways use, from the playlist folder.
    static QString BusName(const QByteArray& playlistFolder);
    static QByteArray SocketPath(const QByteArray& playlistFolder);
    static QByteArray LockPath(const QByteArray& playlistFolder);

    // Called for the paths of a copy started later (empty: it only asks to
    // be seen).
    void Deliver(const QByteArrayList& paths);

signals:
    void openRequested(const QByteArrayList& paths);

private:
    Outcome StartOnBus(const QByteArrayList& paths);
    Outcome StartOnSocket(const QByteArrayList& paths);
    bool Listen(const QByteArray& socketPath);
    bool TakeLock();

    QByteArray folder_;
    QByteArray lockPath_;
    QLocalServer* server_ = nullptr;
    int lockFd_ = -1;
};
