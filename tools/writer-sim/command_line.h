// The writer-sim program's options.
#pragma once

#include "writer_simulator.h"

#include <string>
#include <vector>

namespace writersim {

struct CommandLine {
    SimulatorOptions options;
    bool exit_on_stdin_eof = false;
    bool help = false;
    std::string error;  // set when the arguments cannot be used
};

// Reads the arguments after the program name; "--name value" and
// "--name=value" are alike.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string Usage();

}  // namespace writersim
