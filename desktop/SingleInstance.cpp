#include "desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString ObjectPath = QStringLiteral("/org/example/Tolvane");
const char* const InterfaceName = "org.example.Tolvane.Instance";

QByteArray FolderKey(const QByteArray& folder) {
    return QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(16);
}

} // namespace

// The bus side of the running copy: Open(aay) takes the paths as bytes.
class InstanceAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.example.Tolvane.Instance")
public:
    explicit InstanceAdaptor(SingleInstance* owner) : QDBusAbstractAdaptor(owner), owner_(owner) {}

public slots:
    void Open(const QByteArrayList& paths) {
        qsizetype bytes = 0;
        for (const QByteArray& path : paths)
            bytes += path.size() + 1;
        // As on the socket: a message beyond the limit adds nothing.
        if (bytes <= SingleInstance::MaxMessageBytes)
            owner_->Deliver(paths);
    }

private:
    SingleInstance* owner_;
};

SingleInstance::SingleInstance(const QByteArray& playlistFolder, QObject* parent)
    : QObject(parent), folder_(playlistFolder) {
    qDBusRegisterMetaType<QByteArrayList>();
}

SingleInstance::~SingleInstance() {
    // The server removes its socket; the lock goes after it, so that no
    // later copy takes over a socket that is still being closed.
    delete server_;
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

QString SingleInstance::BusName(const QByteArray& playlistFolder) {
    return QStringLiteral("org.example.Tolvane.k") + QString::fromLatin1(FolderKey(playlistFolder));
}

QByteArray SingleInstance::SocketPath(const QByteArray& playlistFolder) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.startsWith('/'))
        return {};
    return runtime + "/tolvane-" + FolderKey(playlistFolder) + ".socket";
}

void SingleInstance::Deliver(const QByteArrayList& paths) {
    // Handled from the event loop, not inside the caller's request: opening
    // may show a message box, and the other copy is waiting for its answer.
    QMetaObject::invokeMethod(
        this, [this, paths] { emit openRequested(paths); }, Qt::QueuedConnection);
}

QByteArray SingleInstance::LockPath(const QByteArray& playlistFolder) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.startsWith('/'))
        return {};
    return runtime + "/tolvane-" + FolderKey(playlistFolder) + ".lock";
}

bool SingleInstance::TakeLock() {
    if (lockFd_ >= 0)
        return true;
    const int fd = ::open(lockPath_.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

SingleInstance::Outcome SingleInstance::Start(const QByteArrayList& paths) {
    // The copy that holds the lock is the one writer of the playlist. Where
    // no lock can be made (no runtime folder) the bus name alone decides.
    lockPath_ = LockPath(folder_);
    if (!lockPath_.isEmpty()) {
        const int probe = ::open(lockPath_.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (probe < 0)
            lockPath_.clear();
        else
            ::close(probe);
    }
    if (QDBusConnection::sessionBus().isConnected())
        return StartOnBus(paths);
    return StartOnSocket(paths);
}

SingleInstance::Outcome SingleInstance::StartOnBus(const QByteArrayList& paths) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString name = BusName(folder_);
    new InstanceAdaptor(this);
    bus.registerObject(ObjectPath, this);
    const bool locking = !lockPath_.isEmpty();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < TimeoutMs) {
        if (!locking || TakeLock()) {
            const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
                bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                 QDBusConnectionInterface::DontAllowReplacement);
            if (!reply.isValid())
                break;
            if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
                return Outcome::Running;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            name, ObjectPath, QLatin1String(InterfaceName), QStringLiteral("Open"));
        call << QVariant::fromValue(paths);
        const QDBusMessage answer =
            bus.call(call, QDBus::Block, int(std::max<qint64>(1, TimeoutMs - waited.elapsed())));
        if (answer.type() == QDBusMessage::ReplyMessage)
            return Outcome::HandedOver;
        // The running copy went away between the two steps, or is ending:
        // try to become the running copy ourselves.
        QThread::msleep(100);
    }
    bus.unregisterObject(ObjectPath);
    // A copy that holds the lock but does not answer (stopped, stuck) still
    // owns the playlist.
    if (locking && !TakeLock())
        return Outcome::Refused;
    return Outcome::Alone;
}

namespace {

// The message a copy hands over: the paths as a QDataStream of a
// QByteArrayList; the answer is one byte once they were taken.
QByteArray handOverMessage(const QByteArrayList& paths) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << paths;
    return message;
}

// Hands the paths to the copy listening on the socket; true once it has
// answered that it took them.
bool handOver(const QByteArray& socketPath, const QByteArrayList& paths) {
    QLocalSocket socket;
    socket.connectToServer(QFile::decodeName(socketPath));
    // A full backlog makes the connection wait; it waits no longer than this.
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(handOverMessage(paths));
    QElapsedTimer waited;
    waited.start();
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(SingleInstance::TimeoutMs - waited.elapsed())))
            return false;
    }
    // The answer alone tells: the paths may have been taken even when the
    // wait ends early, and a second try would hand them over twice.
    while (socket.bytesAvailable() < 1) {
        const qint64 left = SingleInstance::TimeoutMs - waited.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            return false;
    }
    return true;
}

} // namespace

// One copy started later: its message is read as it comes, answered once
// complete, and the connection closed when that copy closes it.
class InstanceConnection : public QObject {
public:
    InstanceConnection(QLocalSocket* socket, SingleInstance* owner)
        : QObject(owner), socket_(socket), owner_(owner) {
        socket_->setParent(this);
        connect(socket_, &QLocalSocket::readyRead, this, &InstanceConnection::Read);
        connect(socket_, &QLocalSocket::disconnected, this, &QObject::deleteLater);
        Read();
    }

private:
    void Read() {
        if (answered_) {
            socket_->readAll(); // nothing more is asked of the other copy
            return;
        }
        received_.append(socket_->readAll());
        // No list of files comes near this; a copy that sends more is cut
        // off before its message costs the running copy memory and time.
        if (received_.size() > SingleInstance::MaxMessageBytes) {
            received_.clear();
            socket_->abort();
            deleteLater();
            return;
        }
        QDataStream in(received_);
        QByteArrayList paths;
        in >> paths;
        if (in.status() != QDataStream::Ok)
            return; // the rest is still on its way
        answered_ = true;
        received_.clear();
        socket_->write("1", 1);
        owner_->Deliver(paths);
    }

    QLocalSocket* socket_;
    SingleInstance* owner_;
    QByteArray received_;
    bool answered_ = false;
};

SingleInstance::Outcome SingleInstance::StartOnSocket(const QByteArrayList& paths) {
    const QByteArray socketPath = SocketPath(folder_);
    if (socketPath.isEmpty() || lockPath_.isEmpty())
        return Outcome::Alone;
    // The running copy is whoever holds the lock; the socket may be left
    // over from a copy that did not end normally.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < TimeoutMs) {
        if (TakeLock())
            return Listen(socketPath) ? Outcome::Running : Outcome::Alone;
        if (handOver(socketPath, paths))
            return Outcome::HandedOver;
        // The running copy is still starting, or just ended.
        QThread::msleep(100);
    }
    return TakeLock() ? Outcome::Alone : Outcome::Refused;
}

bool SingleInstance::Listen(const QByteArray& socketPath) {
    server_ = new QLocalServer(this);
    // The runtime folder is the user's alone; the socket is too.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = QFile::decodeName(socketPath);
    // Holding the lock, this copy is the running one: a socket still there
    // is a leftover of a copy that did not end normally.
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection())
            new InstanceConnection(socket, this);
    });
    return true;
}

#include "SingleInstance.moc"
