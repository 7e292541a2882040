#include "cli.h"

#include <charconv>
#include <cstdlib>

#include "memory_file.h"

namespace sim {
namespace {

bool Integer(const std::string& text, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0;
}

}  // namespace

std::string HelpText() {
  return "Usage: tmv540-sim [OPTION]...\n"
         "A simulated TMV540 vacuum gauge controller on a serial line, for trying and testing the updater\n"
         "without an instrument. It opens a pseudo-terminal and prints, on the first line of its output, the\n"
         "device path that the updater opens (or uses a real serial device with --device).\n"
         "\n"
         "Options:\n"
         "  --link PATH             also make PATH a symbolic link to that device path\n"
         "  --device PATH           use the serial device PATH (115200 8N1, raw, RTS/CTS), e.g. a\n"
         "                          null-modem cable to the PC that runs the updater\n"
         "  --load FILE             start with the instrument memory in the JSON file FILE\n"
         "  --save FILE             write the instrument memory to FILE on \"s\" and on exit\n"
         "  --start on|off|loader   power state at start (default on; loader: waiting in its\n"
         "                          loader after a broken-off upload, without a prompt)\n"
         "  --pace                  take and send bytes no faster than 115200 baud, like the instrument\n"
         "  --auto-operator         work the front panel as the updater asks: after the last state\n"
         "                          query, POWER and then POWER with IG1 and DEGAS; after \"poff\", POWER\n"
         "  --operator-delay MS     the automatic operator's time for each step (default 1000)\n"
         "  --restart-delay MS      from the eighth firmware file until the new firmware answers\n"
         "                          (default 1500)\n"
         "  --new-version TEXT      the version the loaded firmware reports (default 093)\n"
         "  --time-scale FACTOR     run all pauses at FACTOR times real time (default 1)\n"
         "  --transcript FILE       write every byte received and sent, with time stamps, to FILE\n"
         "  --fault NAME[=VALUE]    show a fault; may be given several times. Faults:\n" +
         FaultHelp() +
         "  -h, --help              show this help\n"
         "\n"
         "Front panel, while it runs: type a letter and Enter, or send a signal.\n"
         "  p    POWER                                  (SIGUSR1)\n"
         "  l    POWER while holding IG1 and DEGAS      (SIGUSR2)\n"
         "  s    save the memory to the --save file\n"
         "  v    pull the line away under the updater\n"
         "  q    quit (the memory is saved first)      (SIGINT, SIGTERM)\n"
         "\n"
         "Replies end in CR (CR LF after \"VERB 1\"); settings with nothing to store answer a lone CR.\n"
         "The loader prompts \"01\\r\\n\", asks for file d with \"0d\\r\\n\" and aborts with \"x\\r\\n\".\n";
}

bool ParseCommandLine(int argc, char** argv, CommandLine& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "-h" || arg == "--help") {
      out.help = true;
    } else if (arg == "--pace") {
      out.options.pace = true;
    } else if (arg == "--auto-operator") {
      out.options.auto_operator = true;
    } else if (arg == "--link") {
      if (!value(out.options.link_path)) return false;
    } else if (arg == "--device") {
      if (!value(out.options.device_path)) return false;
    } else if (arg == "--transcript") {
      if (!value(out.options.transcript_path)) return false;
    } else if (arg == "--save") {
      if (!value(out.save_path)) return false;
    } else if (arg == "--load") {
      if (!value(text) || !LoadMemory(text, out.options.memory, error)) return false;
    } else if (arg == "--start") {
      if (!value(text)) return false;
      if (text == "on")
        out.options.device.start = Power::Running;
      else if (text == "off")
        out.options.device.start = Power::Off;
      else if (text == "loader")
        out.options.device.start = Power::Loader;
      else
        return error = "--start takes on, off or loader", false;
    } else if (arg == "--operator-delay" || arg == "--restart-delay") {
      int& into = arg == "--operator-delay" ? out.options.operator_delay_ms : out.options.device.restart_ms;
      if (!value(text)) return false;
      if (!Integer(text, into)) return error = arg + " takes milliseconds, not \"" + text + "\"", false;
    } else if (arg == "--new-version") {
      if (!value(out.options.device.new_version)) return false;
      if (out.options.device.new_version.size() != 3) return error = "--new-version takes three characters", false;
    } else if (arg == "--time-scale") {
      if (!value(text)) return false;
      char* end = nullptr;
      out.time_scale = std::strtod(text.c_str(), &end);
      if (*end || !(out.time_scale > 0)) return error = "--time-scale takes a positive factor", false;
    } else if (arg == "--fault") {
      if (!value(text) || !out.options.device.faults.Apply(text, error)) return false;
    } else {
      error = "unknown option " + arg + " (see --help)";
      return false;
    }
  }
  return true;
}

}  // namespace sim
