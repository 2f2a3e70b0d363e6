// BraskAdmin's entry: the windows, the command-line mode or the screenshot mode.
#pragma once

namespace brask {

int runProgram(int argc, char** argv);

} // namespace brask
