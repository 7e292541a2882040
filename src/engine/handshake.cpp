// Wakes the instrument, reads which firmware it runs, and has the operator confirm the update, or
// say whether an earlier upload was broken off (then the instrument waits silently in its loader).
#include <string>

#include "engine/Update_unit2.h"
#include "firmware/firmware.h"
#include "platform/operator.h"
#include "ui/port_connection.h"

namespace {

constexpr std::string_view WakeUp = "\n";
constexpr std::string_view IdentityQuery = "\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n";
constexpr std::uint32_t DrainReadSize = 256;
constexpr std::uint32_t IdentityReadSize = 200;
// The shortest identity reply that holds every field the confirmation shows.
constexpr std::uint32_t IdentityMinLength = 15;

constexpr std::string_view ShortReplyHint =
    "\r\nBad Reply from TMV540.\r\nIs the baud rate at 115200 bps?\r\nAre you using the right COM port?";
constexpr std::string_view NoReplyHint =
    "\r\nNo Reply from TMV540.\r\nIs the baud rate at 115200 bps?\r\nAre you using the right COM port?";

// At most `length` characters from `offset`, ending early at a NUL.
void AppendField(std::string& text, std::uint32_t offset, std::uint32_t length) {
  for (std::uint32_t i = offset; i < offset + length && ReplyBuffer[i] != '\0'; ++i) text += ReplyBuffer[i];
}

}  // namespace

void TRead::Handshake() {
  WriteText(WakeUp);
  Read(DrainReadSize);
  ReplyBuffer[0] = '\0';
  ReadCount = 0;

  WriteText(IdentityQuery);
  const std::uint32_t n = Read(IdentityReadSize);

  if (n == 0) {
    if (MessageBox("\nNo reply from TMV540.\nDid you already attempt a firmware upload?", "Aborted upload?",
                   MB_YESNO | MB_ICONQUESTION) == IDYES) {
      LogAppend("\r\nUnplug the TMV540 and reapply power to restart.");
      LoaderAlreadyActive = 1;
      CalBackupPending = 0;
      StateBackupPending = 0;
    } else {
      LogAppend(NoReplyHint);
      RunFinishUpdate();
    }
    return;
  }
  if (n < IdentityMinLength) {
    LogAppend(ShortReplyHint);
    RunFinishUpdate();
    return;
  }

  // The reply's last byte is never shown; its NUL also bounds every field below.
  ReplyBuffer[n - 1] = '\0';
  std::string text = "You are about to replace\nTMV540 firmware version\n";
  AppendField(text, 0, 3);
  text += ' ';
  AppendField(text, 5, 13);
  text += "\ndownloaded on ";
  AppendField(text, n - 9, 8);
  text += "\n\twith\nTMV540 firmware version\n";
  text += FirmwareVersion;
  text += "\nAre you sure you want to do this?";

  if (MessageBox(text, "Erase TMV540 Firmware?", MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
    LogAppend("\r\nUpdate Canceled.");
    RunFinishUpdate();
  }
}
