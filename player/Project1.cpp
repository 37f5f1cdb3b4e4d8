// The program entry; all of it is in RunPlayer, which the start benchmark
// runs as well.

#include "platform/HelperPath.h"
#include "player/Program.h"

#include <sys/prctl.h>

int main(int argc, char* argv[]) {
    // The user started tolvane, which became this program: the tools that
    // name and find processes by their command (ps, top, killall, a system
    // monitor) show it under the name the user knows. Threads started from
    // here on take the name too, unless they give themselves one.
    ::prctl(PR_SET_NAME, ProgramName);
    return RunPlayer(argc, argv);
}
