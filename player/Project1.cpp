// The program entry; all of it is in RunPlayer, which the start benchmark
// runs as well.

#include "player/Program.h"

int main(int argc, char* argv[]) {
    return RunPlayer(argc, argv);
}
