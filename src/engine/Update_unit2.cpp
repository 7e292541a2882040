#include "engine/Update_unit2.h"

#include <cstring>
#include <string_view>

#include "engine/backup_file.h"
#include "firmware/firmware.h"
#include "platform/clock.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

std::uint8_t CalBackupPending = 1;
std::uint8_t StateBackupPending = 1;
std::uint8_t CalRestorePending = 0;
std::uint8_t StateRestorePending = 0;
std::uint8_t UploadActive = 0;
std::uint8_t LoaderAlreadyActive = 0;
std::uint8_t PromptSeen = 0;
signed char ExpectedFileDigit = '1';
std::int32_t FileIndex = 1;
std::uint32_t FileErrorCount = 0;
std::uint32_t SilentPollCount = 0;

namespace {
// Lets the window settle the closed port before the restart hint appears.
constexpr unsigned FinishSettleWait = 750;
constexpr std::uint32_t PollReadSize = 50;

// Every phase flag and counter back to its start value; PromptSeen is the next worker's to clear.
void ResetPhaseState() {
  CalBackupPending = 1;
  StateBackupPending = 1;
  CalRestorePending = 0;
  StateRestorePending = 0;
  LoaderAlreadyActive = 0;
  UploadActive = 0;
  SilentPollCount = 0;
  FileErrorCount = 0;
  ExpectedFileDigit = '1';
  FileIndex = 1;
}
}  // namespace

void ResetProgressState() {
  ResetPhaseState();
  PromptSeen = 0;
}

TRead::TRead(bool CreateSuspended) : TThread(CreateSuspended), Port(PortHandle) {
  OnTerminate = [this] {
    if (Worker == this) Worker = nullptr;
  };
  StartUnlessSuspended();
}

void TRead::Execute() {
  FillFirmwareTable();
  FileIndex = 1;
  FreeOnTerminate = true;
  PromptSeen = 0;
  BuildDownloadDateCommand();
  Handshake();

  while (!Terminated()) {
    Read(PollReadSize);
    if (ReadCount > 0) {
      ReplyBuffer[ReadCount] = '\0';
      Synchronize([this] { EchoReply(); });
    }
    if (CalBackupPending == 1 && CalBackup() == Step::LeaveLoop) return;
    if (StateBackupPending && StateBackup() == Step::LeaveLoop) return;
    if (ClassifyReply() == Step::LeaveLoop) return;
    if (AbortTest() == Step::LeaveLoop) return;
    if ((PromptSeen || (ReadCount > 0 && UploadActive)) && UploadStep() == Step::LeaveLoop) return;
    if (CalRestorePending) CalRestore();
    if (StateRestorePending) StateRestore();
  }
}

void TRead::FinishUpdate() {
  ResetPhaseState();
  ClosePort();
  Terminate();
  // A worker cut off by a closing window must not hold the program up with settling waits.
  if (!Abandoned()) platform::UiSleep(FinishSettleWait);
  LogAppend("\r\nIf you need to restart TMV Update, re-select the COM port.");
}

void TRead::EchoReply() { LogAppend(ReplyText()); }

void TRead::RunFinishUpdate() {
  Synchronize([this] { FinishUpdate(); });
}

bool TRead::Write(const void* data, std::uint32_t count) {
  DWORD written = 0;
  return WriteFile(Port, data, count, &written, nullptr) != 0;
}

bool TRead::WriteText(std::string_view text) { return Write(text.data(), static_cast<std::uint32_t>(text.size())); }

std::uint32_t TRead::Read(std::uint32_t count) {
  DWORD received = 0;
  if (!ReadFile(Port, ReplyBuffer, count, &received, nullptr)) received = 0;
  ReadCount = received;
  return received;
}

bool TRead::CreateBackupFile(BackupFile& file) {
  if (file.Create()) return true;
  LogAppend("\r\n" + file.Error());
  MessageBox("Couldn't open file for saving.  Exiting.", "Fatal Error", MB_OK);
  RunFinishUpdate();
  return false;
}

std::string_view TRead::ReplyText() { return {ReplyBuffer, strnlen(ReplyBuffer, ReplyBufferSize)}; }
