// Saves the instrument's 226 stored settings as a script of the commands that set them, then
// tells the operator how to restart the instrument into its firmware loader.
#include <array>
#include <string>

#include "engine/Update_unit2.h"
#include "engine/backup_file.h"
#include "platform/clock.h"
#include "platform/operator.h"
#include "ui/port_connection.h"

namespace {

struct StateQueryGroup {
  char mnemonic[5];
  int first;  // 0 and 0 with `none`: one row without argument
  int last;
  bool none = false;
};

constexpr StateQueryGroup StateQueryGroups[] = {
    {"GPMU", 0, 0, true}, {"GPBA", 0, 2},       {"GPDF", 0, 2},       {"GDES", 1, 12},      {"CSEN", 1, 2},
    {"CGCF", 1, 4},       {"CRVI", 1, 2},       {"IGEC", 1, 2},       {"GFIL", 1, 2},       {"GPLV", 1, 2},
    {"GOSD", 1, 2},       {"GOTH", 1, 2},       {"GODE", 1, 2},       {"GOAA", 1, 2},       {"DENA", 0, 0, true},
    {"DPOW", 1, 2},       {"DTIM", 1, 2},       {"AOPG", 0, 0, true}, {"AOIG", 0, 0, true}, {"AOTH", 0, 0, true},
    {"AOCN", 0, 0, true}, {"CRVP", 1, 2},       {"GADM", 1, 4},       {"GDAS", 1, 4},       {"ANDF", 1, 4},
    {"GDAV", 1, 4},       {"CMPX", 1, 4},       {"PLIN", 0, 0, true}, {"PLWT", 0, 0, true}, {"PLEN", 0, 0, true},
    {"PLDD", 0, 0, true}, {"PLTR", 0, 0, true}, {"LCPN", 0, 0, true}, {"LCPX", 0, 0, true}, {"LCVN", 0, 0, true},
    {"LCVX", 0, 0, true}, {"LCRG", 0, 0, true}, {"RDES", 1, 8},       {"RLCL", 1, 8},       {"RLOP", 1, 8},
    {"RBEP", 1, 8},       {"RMOD", 1, 8},       {"RAMS", 1, 8},       {"RGOS", 1, 8},       {"RTRP", 1, 8},
    {"RTRV", 1, 8},       {"RPHY", 1, 8},       {"RVHY", 1, 8},       {"RPOL", 1, 8},       {"RDEL", 1, 8},
    {"RTCL", 1, 8},       {"RTOP", 1, 8},       {"RTIL", 1, 8},       {"BLEN", 0, 0, true}, {"BLIT", 0, 0, true},
    {"BLOF", 0, 0, true}, {"BLON", 0, 0, true}, {"BLTD", 0, 0, true}, {"SECF", 0, 7},       {"WSEN", 0, 0, true},
    {"NAME", 0, 0, true}, {"VOLC", 0, 0, true},
};
static_assert(std::size(StateQueryGroups) == 62);

constexpr int StateQueryCount = 226;

constexpr int CountStateRows() {
  int rows = 0;
  for (const auto& group : StateQueryGroups) rows += group.last - group.first + 1;
  return rows;
}
static_assert(CountStateRows() == StateQueryCount);
constexpr int StateRowSize = 10;  // mnemonic, "?", 3-character argument field, LF, NUL

// The rows back to back: e.g. "GDES? 12\n" and its NUL.
constexpr std::array<char, StateQueryCount * StateRowSize> BuildStateQueryTable() {
  std::array<char, StateQueryCount * StateRowSize> table{};
  int row = 0;
  for (const auto& group : StateQueryGroups) {
    for (int argument = group.first; argument <= group.last; ++argument, ++row) {
      char* r = table.data() + row * StateRowSize;
      for (int i = 0; i < 4; ++i) r[i] = group.mnemonic[i];
      r[4] = '?';
      r[5] = ' ';
      r[6] = group.none || argument < 10 ? ' ' : static_cast<char>('0' + argument / 10);
      r[7] = group.none ? ' ' : static_cast<char>('0' + argument % 10);
      r[8] = '\n';
      r[9] = '\0';
    }
  }
  return table;
}
constexpr auto StateQueryTable = BuildStateQueryTable();
static_assert(StateQueryTable[7 * StateRowSize + 7] == '1' && StateQueryTable[18 * StateRowSize + 6] == '1');

constexpr char StateFileName[] = "tmv-ste.txt";
constexpr std::uint32_t StateReplyReadSize = 200;
constexpr unsigned StateStartWait = 1000;
// How long the instrument gets to answer each query.
constexpr unsigned StatePollWait = 200;

}  // namespace

TRead::Step TRead::StateBackup() {
  Sleep(StateStartWait);
  LogAppend("\r\nYour TMV540 state file will be saved under:\r\n");
  LogAppend(StateFileName);
  LogAppend("\r\n");

  BackupFile file(StateFileName);
  if (!CreateBackupFile(file)) return Step::LeaveLoop;
  LogAppend("\r\nNow storing TMV540 state...this takes about 1 minute.\r\n");

  // 226 lines of up to 209 bytes each always fit.
  std::string StateFileText;
  for (int row = 0; row < StateQueryCount; ++row) {
    const char* query = StateQueryTable.data() + row * StateRowSize;
    Write(query, 9);
    Sleep(StatePollWait);
    ReplyBuffer[Read(StateReplyReadSize)] = '\0';
    if (ReplyBuffer[0] == '\0') {
      // The last good state file stays where it was; the rest of the pass runs on.
      LogAppend("\r\nError during state download.");
      RunFinishUpdate();
      return Step::Continue;
    }
    if (ReplyBuffer[0] != '\r') {
      StateFileText.append(query, 4);
      StateFileText.append(query + 5, 3);
      StateFileText += ' ';
      StateFileText += ReplyText();
      StateFileText += '\n';
    }
    LogAppend(".");
  }
  if (!file.Commit(StateFileText)) {
    LogAppend("\r\n" + file.Error() + ".\r\nThe state was not saved.  Update Canceled.");
    RunFinishUpdate();
    return Step::LeaveLoop;
  }

  StateBackupPending = 0;
  LogAppend("\r\nTMV540 State stored.\r\n");
  LogAppend(
      "\r\nTo upload firmware:\r\n\t1) Push the POWER button.\r\n\t2) While holding IG1 and DEGAS, push the POWER "
      "button again.\r\n");
  return Step::Continue;
}
