#pragma once

#include <QByteArray>
#include <functional>

// Whether the machine is connected to the internet. The desktop's network
// information answers when it knows; otherwise a default route (IPv4 or
// IPv6) counts as connected.
bool IsInternetConnected();

// Whether the kernel's routing tables (the text of /proc/net/route and of
// /proc/net/ipv6_route) hold a default route that is up and not a reject
// route.
bool HasDefaultRoute(const QByteArray& ipv4Routes, const QByteArray& ipv6Routes);

// Tests answer the question instead of the machine.
using ConnectionStandIn = std::function<bool()>;
void SetConnectionStandIn(ConnectionStandIn standIn);
