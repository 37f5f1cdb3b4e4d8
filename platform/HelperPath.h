#pragma once

#include <string>

// Where the programs that come with the player are: beside the running
// program in a build folder, or in the player's own folder under libexec
// once installed (the folder is fixed relative to the program's, so that an
// installation may be moved as a whole). Needs nothing but the C library,
// for the program's start, which runs before any other library is loaded.
std::string HelperPath(const char* name);

// The program the user starts (bin/tolvane), which becomes the player, one
// of the helpers: the name its processes and their streams go by.
inline constexpr char ProgramName[] = "tolvane";
