// After the eighth firmware file: waits for the new firmware, writes the download date, sends the
// calibration back, has the instrument power off, waits for the operator to switch it on again and
// sends the state back.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "engine/Update_unit2.h"
#include "platform/clock.h"
#include "platform/operator.h"
#include "ui/port_connection.h"

namespace {

constexpr char IdnQuery[] = "*IDN?\n";   // sent with its NUL
constexpr char DiaOn[] = "$dia 1\r\n";   // sent with its NUL
constexpr char DiaOff[] = "$dia 0\r\n";  // sent with its NUL
constexpr std::uint32_t DownloadDateLength = 13;
constexpr std::string_view PowerOff = "$ibr\npoff\n";
constexpr char CalFileName[] = "tmv-cal.txt";
constexpr char StateFileName[] = "tmv-ste.txt";
constexpr std::uint32_t ReplyReadSize = 50;
constexpr int IdnAttempts = 20;
constexpr unsigned IdnRetryWait = 500;
// Gives the instrument time to take the date before the calibration script arrives.
constexpr unsigned CalRestoreWait = 2000;
// Gives the switched-on instrument time to settle before the state script arrives.
constexpr unsigned StateRestoreWait = 1000;
constexpr std::uint32_t StatePieceSize = 200;
// Lets the instrument work through each piece of the state script.
constexpr unsigned StatePieceWait = 30;

constexpr char ReadFailureText[] = "Can't perform one of the following file operations: Open, Seek, Read, Close.";
constexpr char SendFailureText[] = "Can't perform one of the following file operations: Open, Read, Write.";

constexpr char UploadCompleteText[] =
    "Your calibration is now restored to flash memory.                        \r\n"
    "\r\n"
    "Your TMV540 will now be turned off.                        \r\n"
    "\r\n"
    "This forces the TMV to load the calibration from flash memory.                        \r\n"
    "The TMV will beep and report it has 'lost settings while the power was off';                        \r\n"
    "this is normal and occurs whenever the TMV is forced to load settings from flash memory.                        "
    "\r\n"
    "\r\n"
    "IMPORTANT!                        \r\n"
    "After you click OK, You MUST reboot the TMV by pressing the red power button after it is turned off.              "
    "          \r\n"
    "Once the TMV is rebooted, your instrument state is restored.";

// The whole file, or nothing when any step of reading it fails.
std::optional<std::vector<char>> ReadWholeFile(const char* name) {
  std::FILE* f = std::fopen(name, "rb");
  if (!f) return std::nullopt;
  std::optional<std::vector<char>> content;
  // Only a plain file opens as one: a directory of that name would report an endless size.
  struct stat info {};
  const bool plainFile = fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode);
  if (plainFile && std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size >= 0 && std::fseek(f, 0, SEEK_SET) == 0) {
      // No memory for the file is one more way of not reading it whole.
      try {
        std::vector<char> buffer(static_cast<std::size_t>(size));
        buffer.resize(std::fread(buffer.data(), 1, buffer.size(), f));
        if (!std::ferror(f)) content = std::move(buffer);
      } catch (const std::exception&) {
      }
    }
  }
  if (std::fclose(f) != 0) content.reset();
  return content;
}

void AnnounceSending(const char* name) {
  LogAppend("\r\nSending file:\r\n");
  LogAppend(name);
  LogAppend("...");
}

}  // namespace

void TRead::EndRestore(const char* failureText, std::uint8_t& pending) {
  MessageBox(failureText, "File Error", MB_OKCANCEL);
  pending = 0;
  RunFinishUpdate();
}

void TRead::BuildDownloadDateCommand() {
  // Month names are always English: the instrument's date format, whatever the PC's locale.
  static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::snprintf(DownloadDateCommand, sizeof(DownloadDateCommand), "FDAT %02d%s%02d\n", local.tm_mday,
                Months[local.tm_mon], local.tm_year % 100);
}

void TRead::PollIdn() {
  for (int attempt = 0; attempt < IdnAttempts; ++attempt) {
    Sleep(IdnRetryWait);
    Write(IdnQuery, sizeof(IdnQuery));
    ReplyBuffer[0] = '\0';
    Read(ReplyReadSize);
    if (ReplyBuffer[0] != '\0') return;
  }
  MessageBox("Reboot the TMV540 so the firmware download date can be written.\nClick OK after reboot finishes.",
             "Reboot TMV", MB_OKCANCEL);
}

void TRead::LastFileCompletion() {
  LogAppend("\r\nFinished with last file.");
  UploadActive = 0;
  ExpectedFileDigit = '1';
  PollIdn();
  Write(DiaOn, sizeof(DiaOn));
  LogAppend("\r\nSetting firmware download date...");
  Write(DownloadDateCommand, DownloadDateLength);
  LogAppend("set.\r\n");
  Write(DiaOff, sizeof(DiaOff));
  Read(ReplyReadSize);
  ReadCount = 0;
  CalRestorePending = 1;
  LoaderAlreadyActive = 0;
  UploadActive = 0;
}

void TRead::CalRestore() {
  Sleep(CalRestoreWait);
  WriteText("\n");
  AnnounceSending(CalFileName);
  const auto file = ReadWholeFile(CalFileName);
  if (!file) return EndRestore(ReadFailureText, CalRestorePending);
  try {
    if (!Write(file->data(), static_cast<std::uint32_t>(file->size()))) {
      LogAppend("\r\nError calibration sending file.");
      CalRestorePending = 0;
      RunFinishUpdate();
      return;
    }
    LogAppend("\r\nFinished with cal upload.");
    MessageBox(UploadCompleteText, "Upload Complete", MB_OK);
    WriteText(PowerOff);
    LogAppend("\r\nPress the power button to reboot your TMV540 and finish the update.");
    CalRestorePending = 0;
    StateRestorePending = 1;
  } catch (...) {
    EndRestore(SendFailureText, CalRestorePending);
  }
}

void TRead::StateRestore() {
  PollIdn();
  Sleep(StateRestoreWait);
  WriteText("\n");
  AnnounceSending(StateFileName);
  const auto file = ReadWholeFile(StateFileName);
  if (!file) return EndRestore(ReadFailureText, StateRestorePending);
  try {
    for (std::size_t offset = 0; offset < file->size();) {
      const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(StatePieceSize, file->size() - offset));
      const bool sent = Write(file->data() + offset, piece);
      Sleep(StatePieceWait);
      if (!sent) {
        LogAppend("\r\nError sending STATE file.");
        break;
      }
      LogAppend("...");
      offset += piece;
    }
    LogAppend("\r\nFinished sending TMV540 state.");
    LogAppend("\r\nYour new TMV540 firmware was succesfully installed!");
  } catch (...) {
    return EndRestore(SendFailureText, StateRestorePending);
  }
  StateRestorePending = 0;
  RunFinishUpdate();
}
