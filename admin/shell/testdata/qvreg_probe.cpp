// Stands in for the farm product's registration program in tests: it accepts any command line and
// appends it, as one line, to qvreg.log in its current directory.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <windows.h>

#include "sky/text.h"

int main() {
    const std::string line = sky::narrow(GetCommandLineW()) + "\n";
    const int log = open("qvreg.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log < 0) {
        return 1;
    }
    // One write per line, so that two runs at once do not mix their lines.
    const bool written = write(log, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(log);
    return written ? 0 : 1;
}
