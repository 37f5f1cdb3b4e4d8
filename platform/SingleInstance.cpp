#include "platform/SingleInstance.h"

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
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
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
    void Open(const QByteArrayList& paths) { owner_->Deliver(paths); }

private:
    SingleInstance* owner_;
};

SingleInstance::SingleInstance(const QByteArray& playlistFolder, QObject* parent)
    : QObject(parent), folder_(playlistFolder) {
    qDBusRegisterMetaType<QByteArrayList>();
}

SingleInstance::~SingleInstance() {
    if (server_)
        server_->close();
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

SingleInstance::Outcome SingleInstance::Start(const QByteArrayList& paths) {
    if (QDBusConnection::sessionBus().isConnected())
        return StartOnBus(paths);
    return StartOnSocket(paths);
}

SingleInstance::Outcome SingleInstance::StartOnBus(const QByteArrayList& paths) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString name = BusName(folder_);
    new InstanceAdaptor(this);
    bus.registerObject(ObjectPath, this);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < TimeoutMs) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid())
            break;
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
            return Outcome::Running;
        QDBusMessage call = QDBusMessage::createMethodCall(
            name, ObjectPath, QLatin1String(InterfaceName), QStringLiteral("Open"));
        call << QVariant::fromValue(paths);
        const QDBusMessage answer = bus.call(call, QDBus::Block, TimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage)
            return Outcome::HandedOver;
        // The running copy went away between the two steps, or is ending:
        // try to become the running copy ourselves.
        QThread::msleep(100);
    }
    bus.unregisterObject(ObjectPath);
    return Outcome::Alone;
}

SingleInstance::Outcome SingleInstance::StartOnSocket(const QByteArrayList& paths) {
    const QByteArray socketPath = SocketPath(folder_);
    if (socketPath.isEmpty())
        return Outcome::Alone;
    // The running copy is whoever holds the lock; the socket may be left
    // over from a copy that did not end normally.
    const QByteArray lockPath = socketPath + ".lock";
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < TimeoutMs) {
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return Outcome::Alone;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lockFd_ = fd;
            server_ = new QLocalServer(this);
            server_->setSocketOptions(QLocalServer::UserAccessOption);
            QLocalServer::removeServer(QFile::decodeName(socketPath));
            if (!server_->listen(QFile::decodeName(socketPath)))
                return Outcome::Alone;
            connect(server_, &QLocalServer::newConnection, this, &SingleInstance::AcceptConnection);
            return Outcome::Running;
        }
        ::close(fd);
        QLocalSocket socket;
        socket.connectToServer(QFile::decodeName(socketPath));
        if (socket.waitForConnected(1000)) {
            QByteArray message;
            QDataStream out(&message, QIODevice::WriteOnly);
            out << paths;
            socket.write(message);
            if (socket.waitForBytesWritten(TimeoutMs) && socket.waitForReadyRead(TimeoutMs))
                return Outcome::HandedOver;
        }
        // The running copy is still starting, or just ended.
        QThread::msleep(100);
    }
    return Outcome::Alone;
}

void SingleInstance::AcceptConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            QByteArrayList paths;
            in >> paths;
            if (!in.commitTransaction())
                return; // the rest is still on its way
            socket->write("1", 1);
            socket->flush();
            Deliver(paths);
        });
    }
}

#include "SingleInstance.moc"
