#include "desktop/SingleInstance.h"

#include "platform/FullTransfer.h"

#include <QCryptographicHash>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDataStream>
#include <QElapsedTimer>
#include <QIODevice>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    if (listenFd_ >= 0) {
        delete incoming_;
        ::close(listenFd_);
        ::unlink(socketPath_.constData());
    }
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

namespace {

// The socket side is plain POSIX, not Qt Network: that library and the
// Kerberos and proxy libraries it needs would load at every start, for a way
// that is taken only when there is no session bus.

bool socketAddress(const QByteArray& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

void setTimeout(int fd, int option, int ms) {
    const timeval limit{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
}

// Hands the paths to the copy listening on the socket; true once it has
// answered that it took them.
bool handOver(const QByteArray& socketPath, const QByteArrayList& paths) {
    sockaddr_un address;
    if (!socketAddress(socketPath, address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A full backlog makes connect wait; it waits no longer than this.
    setTimeout(fd, SO_SNDTIMEO, 1000);
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        setTimeout(fd, SO_SNDTIMEO, SingleInstance::TimeoutMs);
        QByteArray message;
        QDataStream out(&message, QIODevice::WriteOnly);
        out << paths;
        if (SendFully(fd, message)) {
            // A signal must not cut the wait short: the paths may have been
            // taken already, and a second try would hand them over twice.
            QElapsedTimer waited;
            waited.start();
            pollfd reply{fd, POLLIN, 0};
            int ready;
            do {
                const qint64 left =
                    std::max<qint64>(0, SingleInstance::TimeoutMs - waited.elapsed());
                ready = ::poll(&reply, 1, int(left));
            } while (ready < 0 && errno == EINTR);
            char answer = 0;
            answered = ready > 0 && ::recv(fd, &answer, 1, MSG_DONTWAIT) == 1;
        }
    }
    ::close(fd);
    return answered;
}

} // namespace

// One copy started later: its message is read as it comes, answered once
// complete, and the connection closed when that copy closes it.
class InstanceConnection : public QObject {
public:
    InstanceConnection(int fd, SingleInstance* owner)
        : QObject(owner), fd_(fd), owner_(owner), notifier_(fd, QSocketNotifier::Read, this) {
        connect(&notifier_, &QSocketNotifier::activated, this, &InstanceConnection::Read);
    }
    ~InstanceConnection() override {
        notifier_.setEnabled(false);
        ::close(fd_);
    }

private:
    void Read() {
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n > 0) {
                received_.append(chunk, n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            // The other copy closed its end, or the connection failed.
            notifier_.setEnabled(false);
            deleteLater();
            return;
        }
        if (answered_)
            return;
        QDataStream in(received_);
        QByteArrayList paths;
        in >> paths;
        if (in.status() != QDataStream::Ok)
            return; // the rest is still on its way
        answered_ = true;
        SendFully(fd_, QByteArray("1", 1));
        owner_->Deliver(paths);
    }

    int fd_;
    SingleInstance* owner_;
    QSocketNotifier notifier_;
    QByteArray received_;
    bool answered_ = false;
};

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
            return Listen(socketPath) ? Outcome::Running : Outcome::Alone;
        }
        ::close(fd);
        if (handOver(socketPath, paths))
            return Outcome::HandedOver;
        // The running copy is still starting, or just ended.
        QThread::msleep(100);
    }
    return Outcome::Alone;
}

bool SingleInstance::Listen(const QByteArray& socketPath) {
    sockaddr_un address;
    if (!socketAddress(socketPath, address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    ::unlink(socketPath.constData());
    // The runtime folder is the user's alone; the socket is too.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(socketPath.constData(), S_IRWXU) != 0 || ::listen(fd, 50) != 0) {
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    socketPath_ = socketPath;
    incoming_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(incoming_, &QSocketNotifier::activated, this, &SingleInstance::AcceptConnection);
    return true;
}

void SingleInstance::AcceptConnection() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        new InstanceConnection(fd, this);
    }
}

#include "SingleInstance.moc"
