// The program the user starts. Given files, it starts the child that will
// play the first of them, then becomes the player (tolvane-window, among
// the helpers), in the same process, with the same arguments. The child's
// start (its program, GStreamer, the decoders of the file's kind) then runs
// beside the player's own: loading Qt and the player's libraries takes
// longer than all of this program, which needs the C and C++ libraries
// alone. The player takes the child from the environment (StartedChildVariable).

#include "platform/HelperPath.h"
#include "player/media/ChildStart.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

// The first file named, by the player's own reading of its command line
// (desktop/CommandLine.cpp): null when there is none, and when an option is
// given, with which the player ends before it plays anything.
const char* FirstFile(int argc, char* argv[]) {
    const char* first = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && argument.size() > 1 && argument[0] == '-') {
            return nullptr;
        } else if (!first && !argument.empty()) {
            // A URL names a file only as a file: URL.
            const bool url = argument.find("://") != std::string_view::npos;
            if (!url || strncasecmp(argv[i], "file:", 5) == 0)
                first = argv[i];
        }
    }
    return first;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const char* first = FirstFile(argc, argv)) {
        int socket = -1;
        // The child opens the file while the player starts; a file: URL is
        // the player's to read.
        const bool url = strncasecmp(first, "file:", 5) == 0;
        const pid_t child = StartPlayingChild(NamedForFFmpeg(first), socket,
                                              url ? std::string() : AbsolutePath(first));
        // Kept open across the exec below; the player marks it close-on-exec
        // as it takes the child.
        if (child > 0 && ::fcntl(socket, F_SETFD, 0) == 0)
            ::setenv(StartedChildVariable, DescribeStartedChild(child, socket).c_str(), 1);
    }
    const std::string player = HelperPath("tolvane-window");
    ::execv(player.c_str(), argv);
    std::fprintf(stderr, "tolvane: cannot start %s: %s\n", player.c_str(), std::strerror(errno));
    return 127;
}
