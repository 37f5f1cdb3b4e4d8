#pragma once

#include <QtGlobal>

// The volumes of the two channels, each 0..65535.
struct ChannelVolumes {
    quint16 left = 0;
    quint16 right = 0;
    friend bool operator==(const ChannelVolumes&, const ChannelVolumes&) = default;
};
