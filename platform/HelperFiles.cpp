#include "platform/HelperFiles.h"

#include "platform/HelperPath.h"

QByteArray HelperFile(const char* name) {
    return QByteArray::fromStdString(HelperPath(name));
}
