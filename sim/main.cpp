// tmv540-sim: a simulated TMV540 on a pseudo-terminal or a serial device, worked from the keyboard
// or by signals. See --help.
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli.h"
#include "memory_file.h"

namespace {

void Save(const sim::Instrument& instrument, const std::string& path) {
  if (path.empty()) return;
  std::string error;
  if (sim::SaveMemory(instrument.memory(), path, error))
    std::cerr << "memory saved to " << path << "\n";
  else
    std::cerr << "tmv540-sim: " << error << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  sim::CommandLine commandLine;
  std::string error;
  if (!sim::ParseCommandLine(argc, argv, commandLine, error)) {
    std::cerr << "tmv540-sim: " << error << "\n";
    return 2;
  }
  if (commandLine.help) {
    std::cout << sim::HelpText();
    return 0;
  }
  platform::SetTimeScale(commandLine.time_scale);

  // Signals are taken through a descriptor, so block them before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

  sim::Instrument instrument(commandLine.options);
  if (!instrument.Start(error)) {
    std::cerr << "tmv540-sim: " << error << "\n";
    return 1;
  }
  std::cout << instrument.Path() << std::endl;
  std::cerr << "TMV540 simulator running (" << sim::PowerName(instrument.power())
            << "); p = POWER, l = POWER with IG1 and DEGAS, q = quit\n";

  bool input = true;
  for (bool quit = false; !quit;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, input ? 2 : 1, -1) < 0) continue;
    std::string command;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signalFd, &info, sizeof info) != sizeof info) continue;
      command.assign(1, info.ssi_signo == SIGUSR1 ? 'p' : info.ssi_signo == SIGUSR2 ? 'l' : 'q');
    } else if (fds[1].revents & (POLLIN | POLLHUP)) {
      // Without a terminal (stdin at its end) the front panel is worked by signals only.
      if (!std::getline(std::cin, command)) input = false;
    }
    if (command == "p")
      instrument.PressPower();
    else if (command == "l")
      instrument.PressPowerWithIg1Degas();
    else if (command == "s")
      Save(instrument, commandLine.save_path);
    else if (command == "v")
      instrument.VanishPort();
    else if (command == "q")
      quit = true;
    else if (!command.empty())
      std::cerr << "keys: p, l, s, v, q (see --help)\n";
    if (command == "p" || command == "l") std::cerr << "now " << sim::PowerName(instrument.power()) << "\n";
  }
  instrument.Stop();
  Save(instrument, commandLine.save_path);
  return 0;
}
