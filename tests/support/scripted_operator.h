#pragma once
// The operator, played by a test: boxes are answered from a script, the serial number dialog is
// filled in or closed, and the log is collected. The test's own thread becomes the UI thread.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/operator.h"

class ScriptedOperator : public platform::Operator {
 public:
  struct Box {
    std::string caption;
    std::string text;
    unsigned flags;
    int answer;
  };

  // Installs itself and marks the calling thread as the UI thread.
  ScriptedOperator();
  ~ScriptedOperator() override;

  // The next box with this caption gets `answer`. A box without a scripted answer is closed by
  // its frame and recorded as unexpected.
  void Answer(const std::string& caption, int answer);
  // The next serial number dialog is confirmed with `entry` typed into it.
  void EnterSerialNumber(const std::string& entry);
  // The next serial number dialog is closed by its frame.
  void CloseSerialNumberDialog();

  // When a later log append is exactly `text`, `action` runs on the UI thread while the worker
  // waits for the append. Cues are taken in the order given, each once.
  void WhenLogged(std::string text, std::function<void()> action);

  const std::string& Log() const { return log_; }
  // The log's appends, one entry each, in order.
  const std::vector<std::string>& Appends() const { return appends_; }
  const std::vector<Box>& Boxes() const { return boxes_; }
  // Captions of boxes that came without a scripted answer.
  const std::vector<std::string>& Unexpected() const { return unexpected_; }
  int SerialNumberDialogs() const { return dialogs_; }
  bool Ended() const { return ended_; }

  void AppendToLog(std::string_view text) override;
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  bool ShowSerialNumberDialog() override;
  std::string SerialNumberEntry() override { return entry_; }
  void EndApplication() override { ended_ = true; }

 private:
  std::string log_;
  std::vector<std::string> appends_;
  std::deque<std::pair<std::string, std::function<void()>>> cues_;
  std::vector<Box> boxes_;
  std::vector<std::string> unexpected_;
  std::map<std::string, std::deque<int>> answers_;
  // The coming dialogs: confirmed with an entry (true), or closed by the frame (false).
  std::deque<std::pair<bool, std::string>> dialogAnswers_;
  std::string entry_ = "12345";
  int dialogs_ = 0;
  bool ended_ = false;
};
