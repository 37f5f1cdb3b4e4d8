#include "platform/CdDoor.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

static CdDoorRecorder& recorder() {
    static CdDoorRecorder instance;
    return instance;
}

void SetCdDoorRecorder(CdDoorRecorder r) {
    recorder() = std::move(r);
}

QList<QByteArray> CdDeviceCandidates() {
    QList<QByteArray> devices{"/dev/cdrom", "/dev/dvd"};
    for (int i = 0; i < 8; ++i)
        devices << "/dev/sr" + QByteArray::number(i);
    return devices;
}

QByteArray FirstCdDevice(const QList<QByteArray>& candidates) {
    for (const QByteArray& device : candidates) {
        struct stat status {};
        if (::stat(device.constData(), &status) == 0 && S_ISBLK(status.st_mode))
            return device;
    }
    return {};
}

bool SetCdDoor(CdDoorCommand command) {
    if (recorder()) {
        recorder()(command);
        return true;
    }
    const QByteArray device = FirstCdDevice(CdDeviceCandidates());
    if (device.isEmpty())
        return false;
    // Without O_NONBLOCK the open would wait for a disc to be inserted.
    const int fd = ::open(device.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int result = ::ioctl(fd, command == CdDoorCommand::Open ? CDROMEJECT : CDROMCLOSETRAY, 0);
    ::close(fd);
    return result == 0;
}
