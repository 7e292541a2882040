// The state backup against the simulated instrument: the state file byte for byte, the 226
// queries on the wire, the progress dots and closing texts, an instrument that falls silent, and
// a stop requested while the backup runs.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "backup_fixture.h"
#include "engine/Update_unit2.h"

namespace {

using namespace backup_test;

std::string Dots(int count) { return std::string(static_cast<std::size_t>(count), '.'); }

// The first `count` state queries as sent.
std::string StateQueries(int count) {
  return Golden("state-queries.esc").substr(0, 9 * static_cast<std::size_t>(count));
}

class StateBackupTest : public BackupTest {};

TEST_F(StateBackupTest, GoldenInstrumentGivesTheGoldenFile) {
  WriteWorkFile("tmv-ste.txt", OldState);
  StartInstrument(GoldenInstrument(), GoldenFaults());
  RunUntilLogged(LoaderSteps);
  StopWorker();

  EXPECT_EQ(ReadWorkFile("tmv-ste.txt"), Golden("tmv-ste.esc"));
  EXPECT_EQ(ReadWorkFile("tmv-cal.txt"), Golden("tmv-cal.esc"));
  const std::string wire = Handshake + CalibrationWire(OwnSerialNumber) + StateQueries(226);
  EXPECT_EQ(Wire(wire.size()), wire);
  EXPECT_EQ(op.Log(),
            "\r\nUsing COM1...\r\nYour TMV540 calibration will be saved as:\r\ntmv-cal.txt\r\n"
            "\r\nCalibration written." +
                StateAnnounce + StoringState + Dots(226) + StateStored + LoaderSteps);
  EXPECT_EQ(op.Boxes().size(), 1u);  // the confirmation
  EXPECT_TRUE(op.Unexpected().empty());
  EXPECT_EQ(WorkFiles(), (std::set<std::string>{"tmv-cal.txt", "tmv-ste.txt"}));
  EXPECT_EQ(StateBackupPending, 0);
}

TEST_F(StateBackupTest, RepliesThatAllStartWithCrGiveAnEmptyFile) {
  WriteWorkFile("tmv-ste.txt", OldState);
  sim::Memory memory = sim::DefaultMemory();
  memory.settings = OnlySettings({});
  StartInstrument(memory);
  RunUntilLogged(LoaderSteps);
  StopWorker();

  EXPECT_TRUE(std::filesystem::exists(WorkDir() / "tmv-ste.txt"));
  EXPECT_EQ(ReadWorkFile("tmv-ste.txt"), "");
  const std::string stored = StateAnnounce + StoringState + Dots(226) + StateStored + LoaderSteps;
  EXPECT_EQ(LogFrom(StateAnnounce).substr(0, stored.size()), stored);
  const std::string wire = Handshake + CalibrationWire(OwnSerialNumber) + StateQueries(226);
  EXPECT_EQ(Wire(wire.size()), wire);
}

struct EmptyReply {
  const char* name;
  int query;  // the 1-based state query that gets no reply
};
void PrintTo(const EmptyReply& c, std::ostream* os) { *os << c.name; }

const EmptyReply EmptyReplies[] = {{"ToTheFirstQuery", 1}, {"ToQuery113", 113}};

class StateEmptyReplyTest : public BackupTest, public ::testing::WithParamInterface<EmptyReply> {};

TEST_P(StateEmptyReplyTest, EndsTheUpdateAndKeepsTheOldFile) {
  const EmptyReply& c = GetParam();
  WriteWorkFile("tmv-ste.txt", OldState);
  sim::Faults faults;
  faults.state_empty = c.query;
  StartInstrument(sim::DefaultMemory(), faults);
  RunToEnd();

  // No dot for the query that got no reply.
  EXPECT_EQ(LogFrom(StateAnnounce),
            StateAnnounce + StoringState + Dots(c.query - 1) + "\r\nError during state download." + RestartHint);
  EXPECT_EQ(ReadWorkFile("tmv-ste.txt"), OldState);
  EXPECT_EQ(WorkFiles(), (std::set<std::string>{"tmv-cal.txt", "tmv-ste.txt"}));
  const std::string wire = Handshake + CalibrationWire(OwnSerialNumber) + StateQueries(c.query);
  EXPECT_EQ(Wire(wire.size()), wire);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CalBackupPending, 1);
  EXPECT_EQ(StateBackupPending, 1);
  EXPECT_EQ(op.Boxes().size(), 1u);
  EXPECT_TRUE(op.Unexpected().empty());
}

INSTANTIATE_TEST_SUITE_P(Queries, StateEmptyReplyTest, ::testing::ValuesIn(EmptyReplies),
                         [](const auto& info) { return std::string(info.param.name); });

// The stop request is read only at the loop's stop check: the backup and the rest of its pass
// run to their end first.
TEST_F(StateBackupTest, StopDuringTheBackupWaitsForTheWholeFile) {
  sim::Memory memory = sim::DefaultMemory();
  for (auto& [key, value] : memory.settings)
    if (value.empty()) value = "0";  // every query has something to store
  StartInstrument(memory);
  op.WhenLogged(".", [] { Worker->Terminate(); });
  RunToEnd();

  EXPECT_EQ(LogFrom(StateAnnounce), StateAnnounce + StoringState + Dots(226) + StateStored + LoaderSteps);
  EXPECT_EQ(StateBackupPending, 0);
  EXPECT_NE(PortHandle, INVALID_HANDLE_VALUE);  // the worker was stopped, not finished
  const std::string queries = StateQueries(226);
  EXPECT_EQ(Wire(Handshake.size() + CalibrationWire(OwnSerialNumber).size() + queries.size()),
            Handshake + CalibrationWire(OwnSerialNumber) + queries);

  // One line per query, in query order: mnemonic, argument field, a blank, the reply, CR, LF.
  const std::string file = ReadWorkFile("tmv-ste.txt");
  std::size_t at = 0;
  for (int row = 0; row < 226; ++row) {
    const std::string query = queries.substr(9 * static_cast<std::size_t>(row), 9);
    const std::string start = query.substr(0, 4) + query.substr(5, 3) + " ";
    const std::size_t end = file.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "line " << row + 1;
    const std::string line = file.substr(at, end - at);
    EXPECT_TRUE(line.starts_with(start) && line.size() > start.size()) << line;
    at = end + 2;
  }
  EXPECT_EQ(at, file.size());
  StopWorker();
}

}  // namespace
