#pragma once

#include "platform/ChannelVolumes.h"

#include <QString>
#include <QtGlobal>

// The system volume as the volume bar shows it: a level from 0 to 255, one
// step of the bar each. The output device works in a 32-bit device volume
// whose low 16 bits are the left channel and whose high 16 bits the right,
// each from 0 (silent) to 65535 (full).

constexpr int MinVolumeLevel = 0;
constexpr int MaxVolumeLevel = 255;

quint32 DeviceVolume(ChannelVolumes channels);
ChannelVolumes ChannelsOf(quint32 deviceVolume);

// Both channels at level x 257, so that 0 is silent and 255 is full.
quint32 DeviceVolumeOfLevel(int level);

// The level a device volume starts the bar at. It is the device volume
// divided by 65537 and by 257, cut each time, of which the low 8 bits count:
// equal channels c give c / 257, unequal ones give what the division gives
// (left full and right silent: 0; left silent and right full: 254).
int LevelOfDeviceVolume(quint32 deviceVolume);

// The level in whole percent of the full level, followed by "%".
QString VolumePercentText(int level);
