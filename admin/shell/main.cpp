// BraskAdmin: without arguments it opens its windows; with a command it runs that command without
// a window (see --help).
#include "shell/program.h"

int main(int argc, char** argv) {
    return brask::runProgram(argc, argv);
}
