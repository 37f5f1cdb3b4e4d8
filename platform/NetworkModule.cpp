// The desktop's network information, in a module of its own that the player
// opens on the first question (see Connection.cpp): linked into the player,
// Qt Network and the Kerberos and proxy libraries it needs would load at
// every start, for a button few press.

#include <QNetworkInformation>

// 1: online, 0: not online, -1: the desktop does not know.
extern "C" __attribute__((visibility("default"))) int tolvane_network_reachability() {
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
