#pragma once
// The dialogue as the instrument saw it, one time-stamped line per event: bytes received ("<<"),
// bytes sent (">>") and what the instrument did ("--"). Kept in memory, written to a file, or both.
#include <chrono>
#include <fstream>
#include <string>
#include <string_view>

namespace sim {

class Transcript {
 public:
  Transcript(const std::string& path, bool keep);
  bool ok() const { return path_.empty() || file_.good(); }

  void Received(std::string_view bytes) { Line("<<", Escape(bytes)); }
  void Sent(std::string_view bytes) { Line(">>", Escape(bytes)); }
  void Note(std::string_view text) { Line("--", std::string(text)); }
  const std::string& Text() const { return text_; }

  // Control bytes as \r, \n, \0 and \xHH; long runs (firmware files) shortened.
  static std::string Escape(std::string_view bytes);

 private:
  void Line(const char* kind, const std::string& text);
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string path_;
  std::ofstream file_;
  bool keep_;
  std::string text_;
};

}  // namespace sim
