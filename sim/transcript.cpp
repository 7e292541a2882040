#include "transcript.h"

#include <cstdio>

namespace sim {

Transcript::Transcript(const std::string& path, bool keep) : path_(path), keep_(keep) {
  if (!path_.empty()) file_.open(path_, std::ios::trunc);
}

std::string Transcript::Escape(std::string_view bytes) {
  constexpr std::size_t Shown = 64;
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < Shown; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == 0)
      out += "\\0";
    else if (c == '\\')
      out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (bytes.size() > Shown) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

void Transcript::Line(const char* kind, const std::string& text) {
  if (path_.empty() && !keep_) return;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.4f ", seconds);
  std::string line = stamp + std::string(kind) + " " + text + "\n";
  if (keep_) text_ += line;
  if (file_.is_open()) file_ << line << std::flush;
}

}  // namespace sim
