#include <unistd.h>

#include <cstdio>

#include "driver/driver.h"

int main(int argc, char** argv) {
    // Progress is shown once a message; into a log file or a pipe it goes
    // a line at a time, on a terminal at once.
    if (!::isatty(STDERR_FILENO)) std::setvbuf(stderr, nullptr, _IOLBF, BUFSIZ);
    return tw::run_program(argc, argv);
}
