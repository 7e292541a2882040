// The simulated instrument on its pseudo-terminal, driven from the updater's side of the line by
// hand: a whole update from the handshake to the state sent back, and the line's own behaviour.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "firmware_file.h"
#include "instrument.h"
#include "platform/clock.h"
#include "updater_side.h"

namespace sim {
namespace {

using namespace std::string_literals;

// The updater's 226 state queries: mnemonic, "?", argument right-aligned in 3, LF.
std::vector<std::string> StateQueries() {
  const char* table =
      "GPMU GPBA:0-2 GPDF:0-2 GDES:1-12 CSEN:1-2 CGCF:1-4 CRVI:1-2 IGEC:1-2 GFIL:1-2 GPLV:1-2 GOSD:1-2 "
      "GOTH:1-2 GODE:1-2 GOAA:1-2 DENA DPOW:1-2 DTIM:1-2 AOPG AOIG AOTH AOCN CRVP:1-2 GADM:1-4 GDAS:1-4 "
      "ANDF:1-4 GDAV:1-4 CMPX:1-4 PLIN PLWT PLEN PLDD PLTR LCPN LCPX LCVN LCVX LCRG RDES:1-8 RLCL:1-8 "
      "RLOP:1-8 RBEP:1-8 RMOD:1-8 RAMS:1-8 RGOS:1-8 RTRP:1-8 RTRV:1-8 RPHY:1-8 RVHY:1-8 RPOL:1-8 "
      "RDEL:1-8 RTCL:1-8 RTOP:1-8 RTIL:1-8 BLEN BLIT BLOF BLON BLTD SECF:0-7 WSEN NAME VOLC";
  std::vector<std::string> rows;
  std::istringstream entries(table);
  for (std::string entry; entries >> entry;) {
    std::string mnemonic = entry.substr(0, 4);
    if (entry.size() == 4) {
      rows.push_back(mnemonic + "?   \n");
      continue;
    }
    int first = std::stoi(entry.substr(5)), last = std::stoi(entry.substr(entry.find('-') + 1));
    for (int argument = first; argument <= last; ++argument) {
      std::string field = std::to_string(argument);
      rows.push_back(mnemonic + "?" + std::string(3 - field.size(), ' ') + field + "\n");
    }
  }
  return rows;
}

// The updater's end of the line.
class Line {
 public:
  explicit Line(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = write(fd_, bytes.data(), bytes.size());
      if (n <= 0) {
        ADD_FAILURE() << "write failed: " << std::strerror(errno);
        return;
      }
      bytes.remove_prefix(std::size_t(n));
    }
  }

  // Reads until `count` bytes equal to `end` have arrived, or `limit_ms` of protocol time passed.
  std::string ReadUntil(char end, int count = 1, int limit_ms = 5000) {
    std::string got;
    platform::Deadline deadline{std::chrono::milliseconds(limit_ms)};
    while (std::count(got.begin(), got.end(), end) < count && Wait(deadline)) got += ReadSome();
    return got;
  }

  // Whatever arrives within `ms` of protocol time.
  std::string ReadFor(int ms) {
    std::string got;
    platform::Deadline deadline{std::chrono::milliseconds(ms)};
    while (Wait(deadline)) got += ReadSome();
    return got;
  }

  bool HungUp() const {
    pollfd p{fd_, 0, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }

  // The IDN poll of the updater: until the instrument answers.
  std::string Identify(int attempts = 40) {
    for (int i = 0; i < attempts; ++i) {
      Sleep(500);
      Write("*IDN?\n\0"s);
      // Longer than the updater's 100 ms read, so a loaded test machine leaves no late reply behind.
      std::string reply = ReadUntil('\r', 1, 1000);
      if (!reply.empty()) return reply;
    }
    return "";
  }

 private:
  bool Wait(const platform::Deadline& deadline) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, deadline.RemainingMs()) > 0 && (p.revents & POLLIN);
  }
  std::string ReadSome() {
    char buffer[512];
    ssize_t n = read(fd_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, std::size_t(n)) : "";
  }
  int fd_;
};

// Waits up to `protocol_ms` for a condition that the instrument's thread brings about.
template <typename Condition>
bool Eventually(Condition condition, int protocol_ms = 10000) {
  platform::Deadline deadline{std::chrono::milliseconds(protocol_ms)};
  while (!condition()) {
    if (deadline.Expired()) return false;
    Sleep(10);
  }
  return true;
}

class SimulatedLine : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetTimeScale(0.1); }
  void TearDown() override { platform::SetTimeScale(1.0); }

  std::unique_ptr<Instrument> Started(Options options) {
    options.keep_transcript = true;
    auto instrument = std::make_unique<Instrument>(std::move(options));
    std::string error;
    EXPECT_TRUE(instrument->Start(error)) << error;
    return instrument;
  }
};

TEST_F(SimulatedLine, AWholeUpdateByHandLosesNothing) {
  auto instrument = Started({});
  const Memory before = instrument->memory();
  Line line(instrument->Path());
  ASSERT_TRUE(line.ok());

  // Handshake.
  line.Write("\n");
  EXPECT_EQ(line.ReadFor(100), "");
  line.Write("\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n");
  EXPECT_EQ(line.ReadUntil('\n', 3), "092\r\n02/11/01 09:30\r\n15Nov02\r\n");

  // Calibration backup: serial number, commands, the 38 queries in one write.
  line.Write("snum?\n\0"s);
  std::string serial = line.ReadUntil('\r');
  ASSERT_EQ(serial, "12345\r");
  line.Write("SNUM " + serial + "\n");
  line.Write("$dia 1\n$2FC 0 2\n");
  line.Write(CalQueryList);
  std::string replies = line.ReadUntil('\r', 38);
  EXPECT_EQ(line.ReadFor(100), "");
  std::string calFile = "$dia 1\r\nSNUM " + serial + "\n";
  std::istringstream queries(CalQueryList.substr(7));
  std::size_t position = 0;
  for (std::string query; std::getline(queries, query) && query.size() == 7;) {
    std::size_t cr = replies.find('\r', position);
    ASSERT_NE(cr, std::string::npos);
    calFile += query.substr(0, 4) + query.substr(5, 2) + " " + replies.substr(position, cr - position) + "\r\n";
    position = cr + 1;
  }
  calFile += "$sef\r\n";

  // State backup, one query at a time; lines only for replies with something to store.
  std::string stateFile;
  std::vector<std::string> rows = StateQueries();
  ASSERT_EQ(rows.size(), 226u);
  for (const std::string& row : rows) {
    line.Write(row);
    std::string reply = line.ReadUntil('\r');
    ASSERT_FALSE(reply.empty()) << row;
    if (reply[0] != '\r') stateFile += row.substr(0, 4) + row.substr(5, 3) + " " + reply + "\n";
  }

  // The operator restarts it into its loader; the eight files go out whole.
  instrument->PressPower();
  instrument->PressPowerWithIg1Degas();
  EXPECT_EQ(line.ReadUntil('\n'), "01\r\n");
  for (int k = 1; k <= 8; ++k) {
    std::vector<unsigned char> file = MakeFirmwareFile(k);
    line.Write(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
    if (k < 8) {
      EXPECT_EQ(line.ReadUntil('\n'), "0" + std::to_string(k + 1) + "\r\n");
    }
  }

  // Restore.
  EXPECT_EQ(line.Identify(), "TMV540,,093 03/06/02 14:51\r");
  line.Write("$dia 1\r\n\0"s);
  line.Write("FDAT 12Dec25\n");
  line.Write("$dia 0\r\n\0"s);
  line.Write("\n");
  line.Write(calFile);
  line.Write("$ibr\npoff\n");
  ASSERT_TRUE(instrument->WaitForPower(Power::Off, 10000));
  instrument->PressPower();
  EXPECT_EQ(line.Identify(), "TMV540,12345,093 03/06/02 14:51\r");
  line.Write("\n");
  for (std::size_t offset = 0; offset < stateFile.size(); offset += 200) {
    line.Write(std::string_view(stateFile).substr(offset, 200));
    Sleep(30);
  }
  EXPECT_EQ(line.Identify(), "TMV540,12345,093 03/06/02 14:51\r");

  Memory after = instrument->memory();
  EXPECT_EQ(after.serial_number, before.serial_number);
  EXPECT_EQ(after.calibration, before.calibration);
  EXPECT_EQ(after.saved_calibration, before.saved_calibration);
  EXPECT_EQ(after.settings, before.settings);
  EXPECT_EQ(after.firmware_version, "093");
  EXPECT_EQ(after.build_stamp, "03/06/02 14:51");
  EXPECT_EQ(after.download_date, "12Dec25");
  for (int k = 1; k <= 8; ++k) {
    std::vector<unsigned char> file = MakeFirmwareFile(k);
    EXPECT_EQ(after.flash_files[k - 1], PayloadDigest(file.data() + PayloadOffset, PayloadSize));
  }
  for (const Received& item : instrument->Received())
    EXPECT_TRUE(item.accepted || item.kind == Received::Kind::Ignored) << item.text;
  EXPECT_EQ(instrument->ReceivedBytes().substr(0, 35),
            "\n\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\nsnum?\n\0"s.substr(0, 35));
  if (HasFailure()) std::cout << instrument->Transcript();
}

TEST_F(SimulatedLine, SurvivesTheUpdaterOpeningAndClosingItsSideAndDropsWhatNobodyHears) {
  auto instrument = Started({});
  for (int i = 0; i < 5; ++i) {
    Line line(instrument->Path());
    ASSERT_TRUE(line.ok());
    line.Write("snum?\n\0"s);
    EXPECT_EQ(line.ReadUntil('\r'), "12345\r") << "opening " << i;
  }
  instrument->PressPower();
  instrument->PressPowerWithIg1Degas();  // its prompt goes out while nobody listens
  EXPECT_TRUE(Eventually(
      [&] { return instrument->Transcript().find("lost, nobody has the line open: 01\\r\\n") != std::string::npos; }));
  Line line(instrument->Path());
  EXPECT_EQ(line.ReadFor(200), "");
}

TEST_F(SimulatedLine, VanishedPortHangsUpTheUpdatersSideAndRemovesTheLink) {
  Options options;
  options.link_path = (std::filesystem::temp_directory_path() / ("tmv540-link-" + std::to_string(getpid()))).string();
  auto instrument = Started(options);
  ASSERT_TRUE(std::filesystem::is_symlink(options.link_path));
  Line line(options.link_path);
  ASSERT_TRUE(line.ok());
  instrument->VanishPort();
  EXPECT_TRUE(Eventually([&] { return line.HungUp(); }));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.link_path)));
  EXPECT_FALSE(Line(instrument->Path()).ok());
}

TEST_F(SimulatedLine, AutomaticOperatorRestartsIntoTheLoaderAndSwitchesBackOnAtPace) {
  Options options;
  options.auto_operator = true;
  options.pace = true;
  auto instrument = Started(options);
  Line line(instrument->Path());
  ASSERT_TRUE(line.ok());
  line.Write("VOLC?   \n");
  EXPECT_EQ(line.ReadUntil('\n', 1, 10000), "230\r01\r\n");
  EXPECT_EQ(instrument->power(), Power::Loader);

  instrument->PressPower();
  instrument->PressPower();
  ASSERT_TRUE(instrument->WaitForPower(Power::Running, 10000));
  line.Write("poff\n");
  EXPECT_TRUE(instrument->WaitForPower(Power::Off, 10000));
  EXPECT_TRUE(instrument->WaitForPower(Power::Running, 10000));
  EXPECT_EQ(line.Identify(), "TMV540,12345,092 02/11/01 09:30\r");
}

}  // namespace
}  // namespace sim
