// Saves the serial number and the 38 calibration constants that a firmware replacement loses,
// as a script of the instrument's own commands that the restore sends back byte for byte.
#include <cstring>
#include <string>

#include "engine/Update_unit2.h"
#include "engine/backup_file.h"
#include "platform/operator.h"
#include "ui/port_connection.h"

namespace {

constexpr char SnumQuery[] = "snum?\n";  // sent with its NUL
constexpr std::string_view AfterSerialNumber = "$dia 1\n$2FC 0 2\n";
constexpr char CalFileName[] = "tmv-cal.txt";
constexpr std::uint32_t ReplyReadSize = 50;

// Line 0 switches on the diagnostic commands; lines 1 to 38 are the queries, each a 5-character
// name and a 2-character argument field. Their order is the order of the replies and of the file.
constexpr char CalQueryList[] =
    "$dia 1\n"
    "$afs? 1\n$aco? 1\n$afs? 2\n$aco? 2\n$afs? 3\n$aco? 3\n$afs? 4\n$aco? 4\n"
    "$hbt?  \n"
    "$dco? 1\n$dfs? 1\n$dco? 2\n$dfs? 2\n$dco? 3\n$dfs? 3\n$dco? 4\n$dfs? 4\n"
    "$d20? 0\n$ies? 0\n$d20? 1\n$ies? 1\n$d20? 2\n$ies? 2\n$d20? 3\n$ies? 3\n"
    "$hgt? 0\n$hgt? 2\n$hgt? 1\n$hgt? 3\n"
    "$ifs? 3\n$ifs? 2\n$ifs? 1\n$ifs? 0\n"
    "$pfs? 0\n$pco? 0\n$pfs? 1\n$pco? 1\n"
    "$pdg?  \n";
static_assert(sizeof(CalQueryList) == 312, "39 lines of 311 characters and the NUL");
constexpr int CalQueryCount = 38;
constexpr int CalQueryLineLength = 8;  // 7 characters and LF
constexpr const char* FirstQueryLine = CalQueryList + 7;

// The sizes the calibration texts were designed for; a reply that does not fit is no calibration.
constexpr std::size_t CalReplyTextLimit = 1023;
constexpr std::size_t CalFileTextLimit = 1023;

bool SerialNumberValid() { return ReplyBuffer[0] >= '1' && ReplyBuffer[0] <= '9'; }

// Builds the 38 calibration lines from the replies, cut at every CR. False when fewer than 38
// CR-ended replies came.
bool AppendCalibrationLines(std::string& file, std::string_view replies, int& repliesFound) {
  std::size_t position = 0;
  for (repliesFound = 0; repliesFound < CalQueryCount; ++repliesFound) {
    const std::size_t cr = replies.find('\r', position);
    if (cr == std::string_view::npos) return false;
    const char* line = FirstQueryLine + repliesFound * CalQueryLineLength;
    file.append(line, 4);      // the name without its "?"
    file.append(line + 5, 2);  // the argument field
    file += ' ';
    file.append(replies.substr(position, cr - position));
    file += "\r\n";
    position = cr + 1;
  }
  return true;
}

}  // namespace

TRead::Step TRead::CalBackup() {
  Write(SnumQuery, sizeof(SnumQuery));
  ReplyBuffer[Read(ReplyReadSize)] = '\0';
  if (!SerialNumberValid()) ShowSnDialog();

  const std::string serialNumberCommand = "SNUM " + std::string(ReplyText()) + "\n";
  std::string CalFileText = "$dia 1\r\n" + serialNumberCommand;
  WriteText(serialNumberCommand);
  WriteText(AfterSerialNumber);

  LogAppend("Your TMV540 calibration will be saved as:\r\n");
  LogAppend(CalFileName);
  LogAppend("\r\n");

  BackupFile file(CalFileName);
  if (!CreateBackupFile(file)) return Step::LeaveLoop;

  Write(CalQueryList, sizeof(CalQueryList));
  std::string CalReplyText;
  ReplyBuffer[0] = '\0';
  // The replies come in one burst; the first quiet read time-out ends it.
  bool overflow = false;
  while (Read(ReplyReadSize) > 0) {
    ReplyBuffer[ReadCount] = '\0';
    CalReplyText += ReplyText();
    if (CalReplyText.size() > CalReplyTextLimit) {
      overflow = true;
      break;
    }
  }

  int repliesFound = 0;
  const bool complete = !overflow && AppendCalibrationLines(CalFileText, CalReplyText, repliesFound);
  CalFileText += "$sef\r\n";
  std::string failure;
  if (!complete || CalFileText.size() > CalFileTextLimit)
    failure = overflow || complete
                  ? "\r\nThe TMV540 sent more calibration text than a calibration holds."
                  : "\r\nThe TMV540 answered " + std::to_string(repliesFound) + " of the 38 calibration queries.";
  else if (!file.Commit(CalFileText))
    failure = "\r\n" + file.Error() + ".";
  if (!failure.empty()) {
    // Firmware is only replaced once the calibration is safe on disk; the last good file stays.
    LogAppend(failure + "\r\nThe calibration was not saved.  Update Canceled.");
    RunFinishUpdate();
    return Step::LeaveLoop;
  }

  CalBackupPending = 0;
  LogAppend("\r\nCalibration written.");
  return Step::Continue;
}
