#pragma once
// The command line of tmv540-sim.
#include <string>

#include "instrument.h"

namespace sim {

struct CommandLine {
  Options options;
  std::string save_path;  // memory written here on "s" and on exit
  double time_scale = 1.0;
  bool help = false;
};

// False with a message when an argument is not understood.
bool ParseCommandLine(int argc, char** argv, CommandLine& out, std::string& error);
std::string HelpText();

}  // namespace sim
