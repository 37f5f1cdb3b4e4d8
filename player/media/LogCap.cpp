#include "player/media/LogCap.h"

#include <atomic>
#include <glib.h>

namespace {

// Counted from GStreamer's streaming threads as well as the main one.
std::atomic<int> fileLogLines{0};

void CappedLog(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    const int line = ++fileLogLines;
    if (line <= LogLinesPerFile)
        g_log_default_handler(domain, level, message, nullptr);
    else if (line == LogLinesPerFile + 1)
        g_log_default_handler(domain, level, "Further messages from this file are left out.",
                              nullptr);
}

} // namespace

void CapLogPerFile() {
    g_log_set_default_handler(CappedLog, nullptr);
}

void StartFileLog() {
    fileLogLines = 0;
}
