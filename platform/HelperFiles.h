#pragma once

#include <QByteArray>

// HelperPath (platform/HelperPath.h) as the Qt side takes file names.
QByteArray HelperFile(const char* name);
