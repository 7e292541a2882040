// One whole update at real speed against a simulated instrument in another process, headless:
// the boxes are answered as an operator would. Prints the wall time next to the floor that the
// protocol's waits and time-outs and the simulator's own delays set for this run, and the
// updater's CPU time and peak memory.
//
// Usage: update_bench DEVICE SIM_TRANSCRIPT OPERATOR_DELAY_MS
//   DEVICE          the simulator's line (its pseudo-terminal or a link to it)
//   SIM_TRANSCRIPT  the simulator's --transcript file, read after the update for what it asked
//   OPERATOR_DELAY  the simulator's --operator-delay
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Update_unit2.h"
#include "firmware/firmware.h"
#include "platform/clock.h"
#include "platform/ui_thread.h"
#include "scripted_operator.h"
#include "ui/port_connection.h"

namespace {

// 10 bits a byte at 115200 baud.
constexpr double ByteMs = 10.0 * 1000 / 115200;
constexpr int StateQueries = 226;
constexpr int StatePieceSize = 200;

struct Item {
  std::string what;
  double ms;
};

double CpuSeconds(const rusage& usage) {
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What the simulator's transcript tells about this run. Its lines are "SECONDS KIND TEXT": "<<"
// for bytes received, "--" for what it did.
struct SimulatorSide {
  int idnStarting = 0;      // "*IDN?" queries while the new firmware started
  int idnSwitchedOn = 0;    // and while the operator switched it on again
  double fileIntakeMs = 0;  // from the first to the last byte of each firmware file, summed
};

SimulatorSide ReadTranscript(const std::string& path) {
  SimulatorSide side;
  std::ifstream in(path);
  bool off = false;
  double fileStart = -1;
  for (std::string line; std::getline(in, line);) {
    const double seconds = std::atof(line.c_str());
    if (line.find("-- off (poff)") != std::string::npos) off = true;
    if (line.find("<< *IDN?") != std::string::npos) ++(off ? side.idnSwitchedOn : side.idnStarting);
    if (line.find("<< *TMV540 ") != std::string::npos) fileStart = seconds;
    if (line.find("-- loader: file ") != std::string::npos && fileStart >= 0) {
      side.fileIntakeMs += (seconds - fileStart) * 1000;
      fileStart = -1;
    }
  }
  return side;
}

// The bytes of the 38 calibration replies, CRs included, as the calibration file keeps them:
// each of its lines 3 to 40 is 7 bytes of name and argument, the reply text and CR LF.
std::size_t CalibrationReplyBytes(const std::filesystem::path& calFile) {
  std::ifstream in(calFile, std::ios::binary);
  std::size_t bytes = 0;
  int number = 0;
  for (std::string line; std::getline(in, line);)
    if (++number >= 3 && number <= 40 && line.size() >= 8) bytes += line.size() - 7;  // text + CR
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DEVICE SIM_TRANSCRIPT OPERATOR_DELAY_MS\n", argv[0]);
    return 2;
  }
  const double operatorDelay = std::atof(argv[3]);

  ScriptedOperator op;
  op.Answer("Erase TMV540 Firmware?", IDOK);
  op.Answer("Upload Complete", IDOK);
  platform::SetTimeScale(1.0);
  std::string pattern = (std::filesystem::temp_directory_path() / "tmv-bench-XXXXXX").string();
  const std::filesystem::path workDir = mkdtemp(pattern.data());
  std::filesystem::current_path(workDir);
  setenv("TMV540_COM1", argv[1], 1);
  std::strcpy(PortName, "COM1");

  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  OpenPort();
  platform::ServeUiRequestsUntil([] { return Worker == nullptr; });
  const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  getrusage(RUSAGE_SELF, &after);

  const bool installed = op.Log().find("succesfully installed!") != std::string::npos && op.Unexpected().empty();
  const auto stateBytes = std::filesystem::file_size(workDir / "tmv-ste.txt");
  const auto pieces = (stateBytes + StatePieceSize - 1) / StatePieceSize;
  const SimulatorSide sim = ReadTranscript(argv[2]);
  const std::size_t calReplyBytes = CalibrationReplyBytes(workDir / "tmv-cal.txt");
  std::filesystem::remove_all(workDir);

  const std::vector<Item> floor = {
      {"port settling before the open", 2000},
      {"handshake: drain and identity reads, 2 x 100 ms time-out", 200},
      {"first poll of the loop, 100 ms time-out", 100},
      {"serial number read, 100 ms time-out", 100},
      {"calibration replies on the line, " + std::to_string(calReplyBytes) + " bytes", calReplyBytes * ByteMs},
      {"calibration collection, final empty read", 100},
      {"state backup: 1000 ms + 226 x (200 ms wait + 100 ms read)", 1000 + StateQueries * 300.0},
      {"simulator: operator restarts it into its loader 2 x " + std::to_string(int(operatorDelay)) +
           " ms after the last state query (less that query's 300 ms)",
       2 * operatorDelay - 300},
      {"firmware: 8 x 65,648 bytes at 115200 baud", FirmwareFileCount * FirmwareFileSize * ByteMs},
      {"IDN poll while the new firmware starts: " + std::to_string(sim.idnStarting) + " x (500 ms + 100 ms read)",
       sim.idnStarting * 600.0},
      {"read after the download date, 100 ms time-out", 100},
      {"wait before the calibration file", 2000},
      {"IDN poll while the operator switches it on: " + std::to_string(sim.idnSwitchedOn) + " x (500 ms + 100 ms read)",
       sim.idnSwitchedOn * 600.0},
      {"wait before the state file", 1000},
      {"state file: " + std::to_string(pieces) + " pieces x 30 ms", pieces * 30.0},
      {"finish: 250 ms before the close + 750 ms", 1000},
  };
  double floorMs = 0;
  std::printf("Protocol floor of this run:\n");
  for (const Item& item : floor) {
    std::printf("  %10.1f ms  %s\n", item.ms, item.what.c_str());
    floorMs += item.ms;
  }
  const double cpu = CpuSeconds(after) - CpuSeconds(before);
  const double filesMs = FirmwareFileCount * FirmwareFileSize * ByteMs;
  // The simulator paces its input by its own clock; where it takes the files more slowly than
  // the line could carry them, that is its delay, not the updater's.
  const double simulatorFloorMs = floorMs - filesMs + std::max(filesMs, sim.fileIntakeMs);
  std::printf("  %10.1f ms  total\n\n", floorMs);
  std::printf("update           %s\n", installed ? "installed" : "FAILED");
  std::printf("wall time        %.2f s\n", wallMs / 1000);
  std::printf("protocol floor   %.2f s\n", floorMs / 1000);
  std::printf("ratio            %.4f (target at most 1.01)\n", wallMs / floorMs);
  std::printf("simulator took the files in %.2f s (115200 baud: %.2f s); floor with its pace %.2f s, ratio %.4f\n",
              sim.fileIntakeMs / 1000, filesMs / 1000, simulatorFloorMs / 1000, wallMs / simulatorFloorMs);
  std::printf("updater CPU      %.3f s = %.3f%% of wall time (target under 1%%)\n", cpu, 100 * cpu * 1000 / wallMs);
  std::printf("peak memory      %ld KiB (maximum resident set)\n", after.ru_maxrss);
  if (!installed) std::fputs(op.Log().c_str(), stderr);
  return installed ? 0 : 1;
}
