#pragma once

#include <QByteArray>
#include <QList>
#include <functional>

// The door (tray) of the machine's CD drive.
enum class CdDoorCommand { Open, Close };

// The device names a CD drive goes by, in the order they are tried.
QList<QByteArray> CdDeviceCandidates();

// The first of the candidates that is a block device; empty when none is.
QByteArray FirstCdDevice(const QList<QByteArray>& candidates);

// Opens or closes the door of the first CD drive and returns once the drive
// has done it. Whether there is a drive, and whether it obeyed, is not
// reported: the answer is true only when the command reached a drive.
bool SetCdDoor(CdDoorCommand command);

// Tests record the commands instead of moving a real door.
using CdDoorRecorder = std::function<void(CdDoorCommand command)>;
void SetCdDoorRecorder(CdDoorRecorder recorder);
