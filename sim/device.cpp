#include "device.h"

namespace sim {
namespace {

constexpr std::size_t MaxLine = 512;

}  // namespace

const char* PowerName(Power power) {
  switch (power) {
    case Power::Off:
      return "off";
    case Power::Running:
      return "running";
    case Power::Loader:
      return "loader";
    case Power::Restarting:
      return "restarting";
  }
  return "?";
}

Device::Device(Memory memory, DeviceOptions options, Notes notes)
    : memory_(std::move(memory)),
      options_(std::move(options)),
      notes_(std::move(notes)),
      power_(options_.start),
      commands_(memory_, options_.faults),
      loader_(options_.faults, log_, [this](std::string_view text) { Note(std::string(text)); }) {
  const std::string& bad = options_.faults.bad_serial;
  if (!bad.empty()) {
    memory_.serial_number = bad == "empty" ? "" : bad == "zero" ? "01234" : "A1234";
    memory_.saved_serial_number = memory_.serial_number;
  }
  if (power_ == Power::Running) SwitchOn();
  if (power_ == Power::Loader) loader_.StartWaiting();
}

Reaction Device::Receive(std::string_view bytes) {
  Reaction reaction;
  bytes_ += bytes;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (power_ == Power::Running) {
      ReceiveLine(bytes[pos++], reaction);
    } else if (power_ == Power::Loader) {
      std::size_t used = 0;
      switch (loader_.Receive(bytes.substr(pos), used, reaction)) {
        case Loader::Outcome::Working:
          break;
        case Loader::Outcome::AllFilesIn:
          Program(reaction);
          break;
        case Loader::Outcome::PowerLost:
          SwitchOff("power lost");
          break;
        case Loader::Outcome::PortVanished:
          reaction.events.push_back(Event::PortVanished);
          break;
      }
      pos += used;
    } else {
      log_.AddIgnored(bytes.substr(pos));
      Note(std::string("ignored ") + std::to_string(bytes.size() - pos) + " bytes while " + PowerName(power_));
      pos = bytes.size();
    }
  }
  return reaction;
}

void Device::ReceiveLine(char byte, Reaction& reaction) {
  if (byte == '\n' || byte == '\r') {
    if (!line_.empty() || lineTooLong_) {
      ExecuteLine(byte, reaction);
      return;
    }
    for (char c : lineRaw_) log_.AddTrailing(c);
    log_.AddTrailing(byte);
    lineRaw_.clear();
    return;
  }
  if (byte == '\0' && line_.empty() && !lineTooLong_) {
    log_.AddTrailing(byte);
    return;
  }
  if (line_.empty() && lineRaw_.empty()) log_.Close();
  if (lineRaw_.size() < 2 * MaxLine) lineRaw_ += byte;
  if (byte == '\0') return;
  if (line_.size() < MaxLine)
    line_ += byte;
  else
    lineTooLong_ = true;
}

void Device::ExecuteLine(char terminator, Reaction& reaction) {
  std::size_t events = reaction.events.size();
  bool ok = !lineTooLong_ && commands_.Execute(line_, reaction);
  if (!ok) Note("refused: " + line_.substr(0, 60) + (lineTooLong_ ? "... (line too long)" : ""));
  log_.Add(Received::Kind::Command, line_, lineRaw_ + terminator, ok);
  line_.clear();
  lineRaw_.clear();
  lineTooLong_ = false;
  for (std::size_t i = events; i < reaction.events.size(); ++i)
    if (reaction.events[i] == Event::SwitchedOff) SwitchOff("poff");
}

void Device::SwitchOn() {
  power_ = Power::Running;
  commands_.Reset();
  line_.clear();
  lineRaw_.clear();
  log_.Close();
  if (!memory_.ram_valid) {
    memory_.serial_number = memory_.saved_serial_number;
    memory_.calibration = memory_.saved_calibration;
    memory_.settings = FactorySettings();
    memory_.ram_valid = true;
    Note("power on: settings lost while the power was off; calibration loaded from flash");
  } else {
    Note("power on");
  }
}

void Device::SwitchOff(const std::string& why) {
  power_ = Power::Off;
  line_.clear();
  lineRaw_.clear();
  log_.Close();
  Note("off (" + why + ")");
}

void Device::Program(Reaction& reaction) {
  memory_.firmware_version = options_.new_version;
  memory_.build_stamp = loader_.Stamp();
  memory_.flash_files = loader_.Digests();
  memory_.download_date.clear();
  // The new firmware brings a blank calibration sector and its own RAM layout.
  memory_.saved_serial_number.clear();
  memory_.saved_calibration = FactoryCalibration();
  memory_.ram_valid = false;
  power_ = Power::Restarting;
  reaction.restart_in_ms = options_.restart_ms;
  Note("loader: all eight files in; programming flash and restarting under " + memory_.firmware_version + " " +
       memory_.build_stamp);
}

Reaction Device::Wake() {
  Reaction reaction;
  if (power_ != Power::Restarting) return reaction;
  SwitchOn();
  commands_.IgnoreIdentityQueries(options_.faults.idn_ignored);
  return reaction;
}

Reaction Device::PressPower() {
  Reaction reaction;
  Note("front panel: POWER");
  if (power_ == Power::Off)
    SwitchOn();
  else
    SwitchOff("front panel");
  return reaction;
}

Reaction Device::PressPowerWithIg1Degas() {
  Reaction reaction;
  Note("front panel: POWER with IG1 and DEGAS held");
  if (power_ != Power::Off) {
    SwitchOff("front panel");
    return reaction;
  }
  power_ = Power::Loader;
  log_.Close();
  loader_.Start(reaction);
  Note("loader started");
  return reaction;
}

}  // namespace sim
