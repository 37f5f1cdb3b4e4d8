#include "player/core/Volume.h"

#include <algorithm>

quint32 DeviceVolume(ChannelVolumes channels) {
    return quint32(channels.right) << 16 | channels.left;
}

ChannelVolumes ChannelsOf(quint32 deviceVolume) {
    return {quint16(deviceVolume & 0xFFFF), quint16(deviceVolume >> 16)};
}

quint32 DeviceVolumeOfLevel(int level) {
    const auto channel = quint16(std::clamp(level, MinVolumeLevel, MaxVolumeLevel) * 257);
    return DeviceVolume({channel, channel});
}

int LevelOfDeviceVolume(quint32 deviceVolume) {
    return int((deviceVolume / 65537u / 257u) & 0xFFu);
}

QString VolumePercentText(int level) {
    return QString::number(int(double(level) / MaxVolumeLevel * 100)) + QLatin1Char('%');
}
