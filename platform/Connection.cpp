#include "platform/Connection.h"

#include <QFile>
#include <QList>
#include <QNetworkInformation>

static ConnectionStandIn& standIn() {
    static ConnectionStandIn instance;
    return instance;
}

void SetConnectionStandIn(ConnectionStandIn s) {
    standIn() = std::move(s);
}

namespace {
constexpr unsigned RouteUp = 0x0001;     // RTF_UP
constexpr unsigned RouteReject = 0x0200; // RTF_REJECT

QList<QByteArray> fieldsOf(const QByteArray& line) {
    return line.simplified().split(' ');
}

unsigned hexValue(const QByteArray& field) {
    bool ok = false;
    const unsigned value = field.toUInt(&ok, 16);
    return ok ? value : 0;
}

// /proc/net/route: a heading, then "Iface Destination Gateway Flags RefCnt
// Use Metric Mask ..." per route, numbers in hexadecimal.
bool hasIpv4DefaultRoute(const QByteArray& table) {
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = fieldsOf(lines[i]);
        if (f.size() < 8)
            continue;
        const unsigned flags = hexValue(f[3]);
        if (f[1] == "00000000" && f[7] == "00000000" && (flags & RouteUp) && !(flags & RouteReject))
            return true;
    }
    return false;
}

// /proc/net/ipv6_route: "destination prefix-length source source-prefix
// next-hop metric refcount use flags device", no heading. The kernel keeps
// a reject route for ::/0 on the loopback device, which is no way out.
bool hasIpv6DefaultRoute(const QByteArray& table) {
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> f = fieldsOf(line);
        if (f.size() < 10)
            continue;
        const unsigned flags = hexValue(f[8]);
        if (f[0] == QByteArray(32, '0') && f[1] == "00" && (flags & RouteUp) &&
            !(flags & RouteReject) && f[9] != "lo")
            return true;
    }
    return false;
}

// 1: online, 0: not online, -1: the desktop does not know. The backend
// (NetworkManager's, as a plugin) is loaded on the first question only.
int desktopReachability() {
    QNetworkInformation* information = QNetworkInformation::instance();
    if (!information && QNetworkInformation::loadDefaultBackend())
        information = QNetworkInformation::instance();
    if (!information)
        return -1;
    switch (information->reachability()) {
    case QNetworkInformation::Reachability::Online:
        return 1;
    case QNetworkInformation::Reachability::Disconnected:
    case QNetworkInformation::Reachability::Local:
    case QNetworkInformation::Reachability::Site:
        return 0;
    case QNetworkInformation::Reachability::Unknown:
        break;
    }
    return -1;
}

QByteArray readAll(const char* path) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

bool HasDefaultRoute(const QByteArray& ipv4Routes, const QByteArray& ipv6Routes) {
    return hasIpv4DefaultRoute(ipv4Routes) || hasIpv6DefaultRoute(ipv6Routes);
}

bool IsInternetConnected() {
    if (standIn())
        return standIn()();
    if (const int online = desktopReachability(); online >= 0)
        return online == 1;
    return HasDefaultRoute(readAll("/proc/net/route"), readAll("/proc/net/ipv6_route"));
}
