// The worker that tries files for the player: requests on standard input,
// answers on standard output (see TFileTester).

#include "platform/Memory.h"
#include "player/FileTester.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

int main() {
    // Ends with the player, whatever way the player ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1)
        return 0;
    LimitMallocArenas();
    // A plugin that prints on standard output must not garble the answers:
    // they get a descriptor of their own, and the rest goes to the errors.
    const int answers = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    const int result = TFileTester::RunWorker(STDIN_FILENO, answers);
    // Not exit(): a thread left stuck in a decoder must not hold up the end.
    _exit(result);
}
