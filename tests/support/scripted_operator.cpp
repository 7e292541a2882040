#include "scripted_operator.h"

#include <algorithm>
#include <cstring>

#include "platform/ui_thread.h"
#include "ui/port_connection.h"

ScriptedOperator::ScriptedOperator() {
  platform::MarkUiThread();
  platform::InstallOperator(this);
}

ScriptedOperator::~ScriptedOperator() { platform::InstallOperator(nullptr); }

void ScriptedOperator::Answer(const std::string& caption, int answer) { answers_[caption].push_back(answer); }

void ScriptedOperator::EnterSerialNumber(const std::string& entry) { dialogAnswers_.emplace_back(true, entry); }

void ScriptedOperator::CloseSerialNumberDialog() { dialogAnswers_.emplace_back(false, std::string()); }

void ScriptedOperator::WhenLogged(std::string text, std::function<void()> action) {
  cues_.emplace_back(std::move(text), std::move(action));
}

void ScriptedOperator::AppendToLog(std::string_view text) {
  log_ += text;
  appends_.emplace_back(text);
  if (cues_.empty() || cues_.front().first != text) return;
  auto action = std::move(cues_.front().second);
  cues_.pop_front();
  action();
}

int ScriptedOperator::ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  auto& queue = answers_[std::string(caption)];
  int answer = platform::ClosedBoxAnswer(flags);
  if (queue.empty()) {
    unexpected_.emplace_back(caption);
  } else {
    answer = queue.front();
    queue.pop_front();
  }
  boxes_.push_back({std::string(caption), std::string(text), flags, answer});
  return answer;
}

bool ScriptedOperator::ShowSerialNumberDialog() {
  ++dialogs_;
  if (dialogAnswers_.empty()) {
    unexpected_.emplace_back("Serial Number Entry");
    return false;
  }
  auto [ok, entry] = dialogAnswers_.front();
  dialogAnswers_.pop_front();
  if (!ok) return false;
  // As the dialog's OK button does: at most five characters and a NUL.
  entry_ = entry;
  const std::size_t n = std::min<std::size_t>(entry.size(), 5);
  std::memcpy(ReplyBuffer, entry.data(), n);
  ReplyBuffer[n] = '\0';
  return true;
}
