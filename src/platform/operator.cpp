#include "platform/operator.h"

#include <ostream>

#include "platform/clock.h"
#include "platform/ui_thread.h"

namespace platform {
namespace {
Operator* installed = nullptr;
std::ostream* transcript = nullptr;

// A worker that has been cut off from its port must not put boxes in front of the operator, who
// has already moved on (picked the port again, or closed the window).
bool CallerAbandoned() {
  auto* token = ThreadWaitToken();
  return token && token->Cancelled();
}

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDYES:
      return "Yes";
    case IDNO:
      return "No";
    default:
      return "?";
  }
}

void Record(std::string_view text) {
  if (!transcript) return;
  *transcript << text;
  transcript->flush();
}

void RecordBox(std::string_view caption, std::string_view text, std::string_view answer) {
  if (!transcript) return;
  *transcript << "\n[box \"" << caption << "\"]\n" << text << "\n[answer: " << answer << "]\n";
  transcript->flush();
}
}  // namespace

void InstallOperator(Operator* op) { installed = op; }
void SetTranscript(std::ostream* out) { transcript = out; }

int ClosedBoxAnswer(unsigned flags) {
  switch (flags & MB_BUTTONS) {
    case MB_OKCANCEL:
      return IDCANCEL;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

}  // namespace platform

using namespace platform;

void LogAppend(std::string_view text) {
  RunOnUiThread([&] {
    Record(text);
    installed->AppendToLog(text);
  });
}

int MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  const bool unseen = CallerAbandoned();
  int answer = ClosedBoxAnswer(flags);
  RunOnUiThread([&] {
    if (!unseen) answer = installed->ShowMessageBox(text, caption, flags);
    RecordBox(caption, text, unseen ? "not shown, the update was stopped" : AnswerName(answer));
  });
  return answer;
}

void ShowSnDialog() {
  const bool unseen = CallerAbandoned();
  RunOnUiThread([&] {
    if (unseen) {
      RecordBox("Serial Number Entry", "", "not shown, the update was stopped");
      return;
    }
    const bool ok = installed->ShowSerialNumberDialog();
    const std::string entry = installed->SerialNumberEntry();
    RecordBox("Serial Number Entry", "", ok ? "OK, entry \"" + entry + "\"" : "closed without OK");
  });
}

void EndApplication() {
  RunOnUiThread([] { installed->EndApplication(); });
}
