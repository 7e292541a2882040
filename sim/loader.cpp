#include "loader.h"

#include "firmware_file.h"
#include "memory.h"

namespace sim {

void Loader::Reset() {
  wanted_ = 1;
  file_.clear();
  skipped_.clear();
  digests_ = {};
  stamp_.clear();
  silent_ = false;
  checkFailed_ = wrongRequested_ = aborted_ = garbled_ = false;
}

void Loader::Start(Reaction& reaction) {
  Reset();
  if (faults_.abort_after == 0) {
    aborted_ = true;
    reaction.out.push_back({0, "x\r\n"});
    return;
  }
  Ask(1, reaction);
}

void Loader::StartWaiting() { Reset(); }

void Loader::Ask(int file, Reaction& reaction) {
  wanted_ = file;
  reaction.out.push_back({0, std::string{'0', char('0' + file), '\r', '\n'}});
}

Loader::Outcome Loader::Receive(std::string_view bytes, std::size_t& used, Reaction& reaction) {
  Outcome outcome = Outcome::Working;
  used = 0;
  while (used < bytes.size() && outcome == Outcome::Working) {
    if (silent_) {
      skipped_ += bytes.substr(used);
      used = bytes.size();
      break;
    }
    if (file_.size() < FileStart.size()) {
      // Waiting for a file: anything that does not begin "*TMV540 " is line noise to the loader.
      char c = bytes[used++];
      if (c == FileStart[file_.size()]) {
        file_ += c;
      } else {
        skipped_ += file_;
        file_.clear();
        if (c == FileStart[0])
          file_ += c;
        else
          skipped_ += c;
      }
      if (file_.size() == FileStart.size()) {
        log_.AddIgnored(skipped_);
        skipped_.clear();
      }
      continue;
    }
    std::size_t take = std::min(bytes.size() - used, FileSize - file_.size());
    bool powerFails = faults_.power_loss_in == wanted_;
    if (powerFails) take = std::min(take, FileSize / 2 - std::min(FileSize / 2, file_.size()));
    file_.append(bytes.substr(used, take));
    used += take;
    if (powerFails && file_.size() >= FileSize / 2) {
      log_.Add(Received::Kind::File, "file " + std::to_string(wanted_) + " (power lost)", file_, false);
      notes_("loader: power lost in the middle of file " + std::to_string(wanted_));
      Reset();
      return Outcome::PowerLost;
    }
    if (file_.size() == FileSize) outcome = FileComplete(reaction);
  }
  log_.AddIgnored(skipped_);
  skipped_.clear();
  return outcome;
}

Loader::Outcome Loader::FileComplete(Reaction& reaction) {
  int number = wanted_;
  const auto* data = reinterpret_cast<const unsigned char*>(file_.data());
  FileCheck check = CheckFirmwareFile(data, file_.size());
  if (check.ok && faults_.bad_check == number && (faults_.bad_check_always || !checkFailed_)) {
    check.ok = false;
    check.problem = "check failed (injected fault)";
    checkFailed_ = true;
  }
  std::string name = "file " + std::to_string(number);
  log_.Add(Received::Kind::File, name, file_, check.ok);
  notes_("loader: " + name + (check.ok ? " accepted" : " refused: " + check.problem));
  if (check.ok) {
    digests_[number - 1] = PayloadDigest(data + PayloadOffset, PayloadSize);
    stamp_ = check.stamp;
  }
  file_.clear();

  int next = 1;
  while (next <= 8 && !digests_[next - 1].empty()) ++next;
  if (faults_.abort_after == number && !aborted_) {
    Reset();
    aborted_ = true;
    reaction.out.push_back({0, "x\r\n"});
    return Outcome::Working;
  }
  if (faults_.silent_after == number) {
    silent_ = true;
    return Outcome::Working;
  }
  if (faults_.vanish_after == number) return Outcome::PortVanished;
  if (faults_.garbage_after == number && !garbled_) {
    garbled_ = true;
    wanted_ = next;
    reaction.out.push_back({0, "#?\r\n"});
    return Outcome::Working;
  }
  if (next > 8) return Outcome::AllFilesIn;
  if (faults_.wrong_request_after == number && !wrongRequested_) {
    wrongRequested_ = true;
    next = faults_.wrong_request_file;
  }
  Ask(next, reaction);
  return Outcome::Working;
}

}  // namespace sim
