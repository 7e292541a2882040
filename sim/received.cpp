#include "received.h"

namespace sim {

void ReceiveLog::Add(Received::Kind kind, std::string text, std::string raw, bool accepted) {
  items_.push_back({kind, std::move(text), std::move(raw), accepted});
  open_ = kind == Received::Kind::Command;
}

void ReceiveLog::AddTrailing(char byte) {
  if (open_ && items_.back().kind == Received::Kind::Command) {
    items_.back().raw += byte;
    return;
  }
  Add(Received::Kind::Command, "", std::string(1, byte), true);
}

void ReceiveLog::AddIgnored(std::string_view bytes) {
  if (bytes.empty()) return;
  if (open_ && items_.back().kind == Received::Kind::Ignored) {
    items_.back().raw += bytes;
    return;
  }
  items_.push_back({Received::Kind::Ignored, "", std::string(bytes), false});
  open_ = true;
}

}  // namespace sim
