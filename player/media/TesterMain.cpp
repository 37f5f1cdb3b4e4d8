// The worker that tries files for the player: requests on standard input,
// answers on standard output (see TFileTester). With --play PID [--ffmpeg]
// it plays a file for the player PID instead (see TPlayingWorker), opening
// the file given by a last --open PATH before the player asks for it.

#include "platform/Memory.h"
#include "player/media/PlayingWorker.h"
#include "player/media/TestingChild.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

// How long a tester holding FFmpeg's decoders waits for the next file.
constexpr int DefaultLetGoMs = 10000;

int main(int argc, char* argv[]) {
    // Ends with the player, whatever way the player ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const bool playing = argc >= 3 && std::strcmp(argv[1], "--play") == 0;
    // The player may have gone before the line above took effect.
    if (playing ? getppid() != pid_t(std::atol(argv[2])) : getppid() == 1)
        return 0;
    LimitMallocArenas();
    // A plugin that prints on standard output must not garble the answers:
    // they get a descriptor of their own, and the rest goes to the errors.
    const int answers = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    const bool ffmpeg = argc >= 4 && std::strcmp(argv[3], "--ffmpeg") == 0;
    const char* first =
        argc >= 5 && std::strcmp(argv[argc - 2], "--open") == 0 ? argv[argc - 1] : nullptr;
    // --let-go-after MS: how long a tester holding FFmpeg's decoders waits
    // for the next file before it leaves.
    const int letGoMs = argc == 3 && std::strcmp(argv[1], "--let-go-after") == 0
                            ? std::atoi(argv[2])
                            : DefaultLetGoMs;
    const int result = playing ? TPlayingWorker::Run(STDIN_FILENO, answers, ffmpeg, first)
                               : RunTestingChild(STDIN_FILENO, answers, letGoMs);
    // Not exit(): a thread left stuck in a decoder must not hold up the end.
    _exit(result);
}
