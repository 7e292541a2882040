#pragma once
// What the backup tests share: a simulated instrument to run the update against, a way to follow
// the update to a given log line, and golden files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "instrument.h"
#include "peer_test.h"
#include "platform/clock.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"
#include "tables.h"
#include "ui/port_connection.h"

namespace backup_test {

// The state backup's log: its start, and the last lines when it succeeds.
inline const std::string StateAnnounce = "\r\nYour TMV540 state file will be saved under:\r\ntmv-ste.txt\r\n";
inline const std::string StoringState = "\r\nNow storing TMV540 state...this takes about 1 minute.\r\n";
inline const std::string StateStored = "\r\nTMV540 State stored.\r\n";
inline const std::string LoaderSteps =
    "\r\nTo upload firmware:\r\n\t1) Push the POWER button.\r\n\t2) While holding IG1 and DEGAS, push the POWER "
    "button again.\r\n";

// The serial number command for an instrument that answers its valid number 12345 with CR.
inline const std::string OwnSerialNumber = "SNUM 12345\r\n";
// A state file left by an earlier update.
inline const std::string OldState = "GPMU    TORR\r\n";

// A golden file of tests/engine/golden. They are kept escaped so every line end and NUL can be
// read and reviewed: \r, \n, \t, \0, \\ and \xHH stand for their bytes, the file's own line
// breaks are not content, and lines beginning with "#" are notes.
inline std::string Golden(const std::string& name) {
  std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "golden" / name, std::ios::binary);
  EXPECT_TRUE(in) << "missing golden file " << name;
  std::string content, line;
  while (std::getline(in, line)) {
    if (line.starts_with('#')) continue;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        content += line[i];
        continue;
      }
      switch (line[++i]) {
        case 'r':
          content += '\r';
          break;
        case 'n':
          content += '\n';
          break;
        case 't':
          content += '\t';
          break;
        case '0':
          content += '\0';
          break;
        case 'x':
          content += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
          i += 2;
          break;
        default:
          content += line[i];
      }
    }
  }
  return content;
}

// The bytes the backups send before the state queries, for a given serial number command.
inline std::string CalibrationWire(const std::string& serialNumberCommand) {
  return std::string("snum?\n") + '\0' + serialNumberCommand + "$dia 1\n$2FC 0 2\n" + Golden("cal-queries.esc");
}

// The handshake and the calibration backup take whatever arrives within a read time-out, and a
// simulated instrument under a sanitizer on a busy machine can take longer than a scaled-down
// time-out to answer the identity query or the 38 calibration queries. So an update starts on a
// slower clock, and from the calibration's outcome on it runs at test pace. This operator watches
// the log for that outcome in front of the test's operator.
class ExchangePace : public platform::Operator {
 public:
  explicit ExchangePace(ScriptedOperator& op) : op_(op) { platform::InstallOperator(this); }
  ~ExchangePace() override {
    platform::InstallOperator(&op_);
    platform::SetTimeScale(TestTimeScale());
  }

  // Before the port is picked.
  void Slow() {
    platform::SetTimeScale(std::max(TestTimeScale(), 0.25));
    calibrationAnnounced_ = false;
  }

  void AppendToLog(std::string_view text) override {
    if (text == "Your TMV540 calibration will be saved as:\r\n") {
      calibrationAnnounced_ = true;
    } else if (calibrationAnnounced_ && text.starts_with("\r\n") && text.size() > 2) {
      platform::SetTimeScale(TestTimeScale());
      calibrationAnnounced_ = false;
    }
    op_.AppendToLog(text);
  }
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override {
    return op_.ShowMessageBox(text, caption, flags);
  }
  bool ShowSerialNumberDialog() override { return op_.ShowSerialNumberDialog(); }
  std::string SerialNumberEntry() override { return op_.SerialNumberEntry(); }
  void EndApplication() override { op_.EndApplication(); }

 private:
  ScriptedOperator& op_;
  bool calibrationAnnounced_ = false;
};

class BackupTest : public EngineTest {
 protected:
  // A simulated instrument holding `memory`, showing `faults`, on its own pseudo-terminal.
  void StartInstrument(sim::Memory memory, sim::Faults faults = {}) {
    sim::Options options;
    options.memory = std::move(memory);
    options.device.faults = faults;
    instrument = std::make_unique<sim::Instrument>(std::move(options));
    std::string error;
    ASSERT_TRUE(instrument->Start(error)) << error;
  }

  // Picks the port, confirms the update and serves the worker until the log holds `text` or the
  // worker has ended.
  void RunUntilLogged(const std::string& text) {
    op.Answer("Erase TMV540 Firmware?", IDOK);
    pace.Slow();
    PickPort(instrument->Path());
    platform::ServeUiRequestsUntil([&] { return op.Log().find(text) != std::string::npos || !Worker; });
  }

  // Picks the port, confirms the update and serves the worker until it has ended by itself.
  void RunToEnd() {
    op.Answer("Erase TMV540 Firmware?", IDOK);
    pace.Slow();
    RunUpdate(instrument->Path());
  }

  // Everything the instrument received, once it holds at least `size` bytes (the last writes of
  // a worker may still be on their way when it ends).
  std::string Wire(std::size_t size) const {
    const platform::Deadline deadline(std::chrono::milliseconds(2000));
    while (instrument->ReceivedBytes().size() < size && !deadline.Expired()) Sleep(10);
    return instrument->ReceivedBytes();
  }

  // The log from `marker` on (empty when it never came).
  std::string LogFrom(const std::string& marker) const {
    const auto at = op.Log().find(marker);
    return at == std::string::npos ? std::string() : op.Log().substr(at);
  }

  // The names in the working directory: no temporary file may be left behind.
  std::set<std::string> WorkFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(WorkDir()))
      names.insert(entry.path().filename().string());
    return names;
  }

  // Destroyed after TearDown(), which stops any worker still running.
  std::unique_ptr<sim::Instrument> instrument;
  ExchangePace pace{op};
};

// Every setting answered with a lone CR (nothing to store) except those in `values`.
inline sim::Values OnlySettings(const sim::Values& values) {
  sim::Values settings;
  for (const auto& item : sim::SettingItems()) settings[item.key] = "";
  for (const auto& [key, value] : values) settings[key] = value;
  return settings;
}

// The instrument behind the golden files: its own serial number, 38 chosen calibration values,
// and a few settings. The odd replies are explained in the golden files.
inline sim::Memory GoldenInstrument() {
  sim::Memory memory = sim::DefaultMemory();
  memory.serial_number = "12345";
  memory.calibration = {
      {"$afs 1", std::string("7.5") + '\0' + std::string(46, '~') + "E-03"},
      {"$aco 1", "-12"},
      {"$afs 2", "1.0000E+00"},
      {"$aco 2", "3"},
      {"$afs 3", "9.8765E-01"},
      {"$aco 3", "0"},
      {"$afs 4", "1.2500E+00"},
      {"$aco 4", "-7"},
      {"$hbt", ""},
      {"$dco 1", "\n0.0125"},
      {"$dfs 1", "2.0000E+00"},
      {"$dco 2", "0.0250"},
      {"$dfs 2", "2.5000E+00"},
      {"$dco 3", "0.0375"},
      {"$dfs 3", "3.0000E+00"},
      {"$dco 4", "0.0500"},
      {"$dfs 4", "3.5000E+00"},
      {"$d20 0", "20.00"},
      {"$ies 0", "1.00E-03"},
      {"$d20 1", "21.50"},
      {"$ies 1", "2.00E-03"},
      {"$d20 2", "19.75"},
      {"$ies 2", "3.00E-03"},
      {"$d20 3", "20.25"},
      {"$ies 3", "4.00E-03"},
      {"$hgt 0", "150"},
      {"$hgt 2", "152"},
      {"$hgt 1", "151"},
      {"$hgt 3", "153"},
      {"$ifs 3", "1.0300E+00"},
      {"$ifs 2", "1.0200E+00"},
      {"$ifs 1", "1.0100E+00"},
      {"$ifs 0", "1.0000E+00"},
      {"$pfs 0", "0.5000"},
      {"$pco 0", "-1"},
      {"$pfs 1", "0.7500"},
      {"$pco 1", "2"},
      {"$pdg", "REV C7"},
  };
  memory.settings = OnlySettings({{"GPMU", "MBAR"},
                                  {"GDES 1", "CHAMBER 1"},
                                  {"GDES 12", "FORELINE"},
                                  {"GADM 1", "LOG"},
                                  {"SECF 0", "00FF"},
                                  {"NAME", "LOADLOCK A"},
                                  {"VOLC", "230"}});
  return memory;
}

// The 1-based number of a state query in the order sent, e.g. "GADM?  1".
inline int StateQueryNumber(const std::string& query) {
  const std::string queries = Golden("state-queries.esc");
  const auto at = queries.find(query + "\n");
  EXPECT_NE(at, std::string::npos) << query;
  return static_cast<int>(at / 9) + 1;
}

// The golden instrument's faults: the reply to NAME? is exactly 200 bytes long, and the one to
// "GADM? 1" holds a NUL.
inline sim::Faults GoldenFaults() {
  sim::Faults faults;
  faults.state_long = StateQueryNumber("NAME?   ");
  faults.state_nul = StateQueryNumber("GADM?  1");
  return faults;
}

}  // namespace backup_test
