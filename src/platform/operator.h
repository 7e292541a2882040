#pragma once
// What the program needs from the person at the screen: the log, message boxes and the serial
// number dialog. The window installs a Qt implementation; tests install a scripted one.
// The free functions may be called from either thread: from the worker they run on the UI
// thread and wait for it. Each is also recorded in the transcript, when one is set.
#include <iosfwd>
#include <string>
#include <string_view>

// Message box buttons, icons and answers, with the meanings the program's boxes use.
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_OKCANCEL = 0x01;
inline constexpr unsigned MB_YESNO = 0x04;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_BUTTONS = 0x0F;
inline constexpr unsigned MB_ICONS = 0xF0;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

namespace platform {

class Operator {
 public:
  virtual ~Operator() = default;
  // Insert `text` at the log's caret, replacing any selection; the caret then follows it.
  virtual void AppendToLog(std::string_view text) = 0;
  // A modal box. Closing it by its frame or with Escape answers IDCANCEL (IDNO for Yes/No).
  virtual int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
  // The modal serial number dialog. Returns true when it was closed with its OK button, whose
  // handler has then stored the entry in the receive buffer.
  virtual bool ShowSerialNumberDialog() = 0;
  // What the serial number dialog's edit box holds, for the transcript.
  virtual std::string SerialNumberEntry() = 0;
  // End the application once the UI thread is back in its event loop.
  virtual void EndApplication() = 0;
};

// UI thread, at start-up (tests: before the first call below).
void InstallOperator(Operator* op);

// Where the transcript goes (the program: standard output); nullptr for none.
void SetTranscript(std::ostream* out);

// The answer a box gets when it is closed without a button: Cancel, or No for a Yes/No box.
int ClosedBoxAnswer(unsigned flags);

}  // namespace platform

void LogAppend(std::string_view text);
int MessageBox(std::string_view text, std::string_view caption, unsigned flags);
void ShowSnDialog();
void EndApplication();
