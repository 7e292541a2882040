// Answers the firmware loader's prompts with the eight firmware files. The dialogue rests on the
// first three bytes of each loader reply: "01" is its prompt, byte 1 of an answer names the file
// it wants next, and "x" or "X" first aborts.

#include "engine/Update_unit2.h"
#include "firmware/firmware.h"
#include "platform/operator.h"
#include "ui/port_connection.h"

namespace {

// Empty passes tolerated while the loader's reply to a file is awaited (about ten seconds).
constexpr std::uint32_t SilentPollLimit = 100;
// Requests for another file than the next, tolerated over one update.
constexpr std::uint32_t FileErrorLimit = 3;

bool IsPrompt() {
  return (ReplyBuffer[0] == '0' && ReplyBuffer[1] == '1') || (ReplyBuffer[1] == '0' && ReplyBuffer[2] == '1');
}

bool IsAccepted(char first) { return (first >= '0' && first <= '8') || first == 'x' || first == 'X'; }

bool IsFileDigit(char digit) { return digit >= '1' && digit <= '8'; }

void ResetToFileOne() {
  ExpectedFileDigit = '1';
  FileIndex = 1;
}

}  // namespace

void TRead::UnexpectedReply() {
  LogAppend("\r\nUnexpected reply from TMV540.\r\n");
  LogAppend(LoaderAlreadyActive ? "\r\nCut off power and hold IG1 and DEGAS while restoring power.\r\n"
                                : "\r\nTry repeating steps 1 and 2.\r\n");
  UploadActive = 0;
  ResetToFileOne();
}

TRead::Step TRead::ClassifyReply() {
  PromptInPass = false;
  if (ReadCount == 0) {
    if (UploadActive && ++SilentPollCount > SilentPollLimit) {
      LogAppend("\r\nNo reply from TMV540 during upload.  Update Canceled.");
      RunFinishUpdate();
      return Step::LeaveLoop;
    }
    return Step::Continue;
  }
  SilentPollCount = 0;
  if (IsPrompt()) {
    PromptInPass = true;
    if (!UploadActive) PromptSeen = 1;
    ReplyBuffer[0] = '\0';  // so a one-byte lead such as "x01" is not taken for an abort
  } else if (!IsAccepted(ReplyBuffer[0])) {
    UnexpectedReply();
  }
  return Step::Continue;
}

TRead::Step TRead::AbortTest() {
  if (LoaderAlreadyActive || (ReplyBuffer[0] != 'x' && ReplyBuffer[0] != 'X')) return Step::Continue;
  LogAppend(ReplyText());
  LogAppend("\r\nReceived abort character...FlashFeed batch stopped.");
  RunFinishUpdate();
  return Step::LeaveLoop;
}

TRead::Step TRead::UploadStep() {
  LoaderAlreadyActive = 0;
  if (!PromptSeen) {
    // A prompt while a reply to a file is awaited means the loader starts over: it wants file 1,
    // whichever form the prompt took.
    const char requested = PromptInPass ? '1' : ReplyBuffer[1];
    if (!IsFileDigit(requested)) {
      // No such file in the image: the loader has to be restarted.
      UnexpectedReply();
      return Step::Continue;
    }
    if (requested == ExpectedFileDigit + 1) {
      ++ExpectedFileDigit;
      ++FileIndex;
      LogAppend("\r\nTMV540 ready for next file.");
    } else {
      LogAppend("\r\nError sending file; re-sending.");
      if (++FileErrorCount > FileErrorLimit) {
        LogAppend("\r\nToo many file errors.  Update canceled.");
        LogAppend("\r\nRe-start the update program to begin again.");
        RunFinishUpdate();
        return Step::LeaveLoop;
      }
      ExpectedFileDigit = requested;
      if (FileIndex > 1) FileIndex = requested - '0';
    }
  }

  LogAppend("\r\nSending file: ");
  LogAppend(std::string("TMV5400") + static_cast<char>(ExpectedFileDigit));
  LogAppend("...");
  try {
    const FirmwareTableEntry& file = FirmwareTable[FileIndex];
    if (!Write(file.start, file.length)) {
      LogAppend("\r\nError sending file.");
    } else if (ExpectedFileDigit >= '8') {
      LastFileCompletion();
    } else {
      LogAppend("\r\nFinished with that file; waiting for prompt...");
      PromptSeen = 0;
      UploadActive = 1;
    }
  } catch (...) {
    MessageBox("Can't perform one of the following file operations: Open, Read, Write.", "File Error", MB_OKCANCEL);
    RunFinishUpdate();
    return Step::LeaveLoop;
  }
  return Step::Continue;
}
