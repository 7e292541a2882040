#pragma once
// The worker that carries out one update, the shared progress state through which its phases
// hand over to one another, and the routines it runs on the UI thread.
#include <cstdint>
#include <string_view>

#include "platform/serial.h"
#include "platform/worker_thread.h"

class BackupFile;

// Shared progress state. Only the worker writes it, except FinishUpdate, which runs on the UI
// thread while the worker waits for it.
extern std::uint8_t CalBackupPending;
extern std::uint8_t StateBackupPending;
extern std::uint8_t CalRestorePending;
extern std::uint8_t StateRestorePending;
extern std::uint8_t UploadActive;
extern std::uint8_t LoaderAlreadyActive;
extern std::uint8_t PromptSeen;
extern signed char ExpectedFileDigit;
extern std::int32_t FileIndex;
extern std::uint32_t FileErrorCount;
extern std::uint32_t SilentPollCount;

// Puts the shared progress state back to its values at program start (tests start each case so).
void ResetProgressState();

class TRead final : public TThread {
 public:
  explicit TRead(bool CreateSuspended);

  // UI thread, at the worker's request: the end of every update.
  void FinishUpdate();
  // UI thread, at the worker's request: the received text into the log.
  void EchoReply();

 protected:
  void Execute() override;

 private:
  // What a step tells the loop: go on with the pass, or leave the loop at once.
  enum class Step { Continue, LeaveLoop };

  // Phases, one file each, in the order the loop runs them.
  void Handshake();
  Step CalBackup();
  Step StateBackup();
  Step ClassifyReply();
  Step AbortTest();
  Step UploadStep();
  void LastFileCompletion();
  void CalRestore();
  void StateRestore();

  // Helpers the phases share.
  bool Write(const void* data, std::uint32_t count);
  bool WriteText(std::string_view text);
  // Reads up to `count` bytes into ReplyBuffer; ReadCount becomes the count received.
  std::uint32_t Read(std::uint32_t count);
  // ReplyBuffer as text, up to its first NUL.
  static std::string_view ReplyText();
  // Runs FinishUpdate on the UI thread and waits for it.
  void RunFinishUpdate();
  void BuildDownloadDateCommand();
  void PollIdn();
  // Creates a backup's temporary file; when that fails, tells the operator and ends the update.
  bool CreateBackupFile(BackupFile& file);
  // A restore step that cannot go on: the operator is told, the step's flag cleared, the update ended.
  void EndRestore(const char* failureText, std::uint8_t& pending);
  // The loader asked for a file that does not exist, or sent something else: start again at file 1.
  void UnexpectedReply();

  // The port opened for this worker. It never follows PortHandle to a port opened later.
  const HANDLE Port;
  // Count of the most recent read of the body.
  std::uint32_t ReadCount = 0;
  // "FDAT ddmmmyy\n", built when the worker starts.
  char DownloadDateCommand[20] = {};
  // The reply of this pass was the loader's prompt.
  bool PromptInPass = false;
};
