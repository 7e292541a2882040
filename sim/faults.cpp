#include "faults.h"

#include <algorithm>
#include <charconv>

namespace sim {
namespace {

enum class Form { Flag, Number, NumberPause, NumberFile, Word };

struct FaultName {
  const char* name;
  Form form;
  const char* value;  // the value's form, as --help shows it
  const char* help;
};

constexpr FaultName Names[] = {
    {"silent", Form::Flag, "", "never answer under the running firmware"},
    {"short-identity", Form::Flag, "", "answer the identity query with 14 bytes"},
    {"bad-serial", Form::Word, "=empty|zero|letter", "store the serial number \"\", \"01234\" or \"A1234\""},
    {"cal-missing", Form::Number, "=N", "leave the last N calibration queries unanswered"},
    {"cal-pause", Form::NumberPause, "=K[:MS]", "pause MS ms (default 150) before calibration reply K"},
    {"state-empty", Form::Number, "=K", "give no reply to state query K (1-226)"},
    {"state-200", Form::Number, "=K", "answer state query K with exactly 200 bytes"},
    {"state-nul", Form::Number, "=K", "answer state query K with a NUL byte inside"},
    {"bad-check", Form::Number, "=K", "let file K fail its check once"},
    {"bad-check-always", Form::Number, "=K", "let file K fail its check every time"},
    {"wrong-request", Form::NumberFile, "=K:D", "after file K ask for file D instead of the next"},
    {"abort", Form::Number, "=K", "send the abort character \"x\" after file K (0: instead of the prompt)"},
    {"silent-after", Form::Number, "=K", "stay silent from file K on"},
    {"garbage-after", Form::Number, "=K", "answer file K with garbage"},
    {"idn-late", Form::Number, "=N", "leave the first N \"*IDN?\" after new firmware unanswered"},
    {"power-loss", Form::Number, "=K", "lose power in the middle of file K"},
    {"vanish-after", Form::Number, "=K", "close the port under the updater after file K"},
};

bool Number(const std::string& text, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0;
}

}  // namespace

bool Faults::Apply(const std::string& spec, std::string& error) {
  std::string name = spec.substr(0, spec.find('='));
  bool hasValue = spec.find('=') != std::string::npos;
  std::string value = hasValue ? spec.substr(spec.find('=') + 1) : "";
  const FaultName* fault = nullptr;
  for (const FaultName& candidate : Names)
    if (name == candidate.name) fault = &candidate;
  if (!fault) {
    error = "unknown fault \"" + name + "\"";
    return false;
  }
  error = "fault \"" + name + "\" " +
          (fault->form == Form::Flag ? std::string("takes no value") : "needs a value: " + name + fault->value);
  if ((fault->form == Form::Flag) == hasValue) return false;

  int n = 0, second = 0;
  std::string first = value.substr(0, value.find(':'));
  bool hasSecond = value.find(':') != std::string::npos;
  std::string rest = hasSecond ? value.substr(value.find(':') + 1) : "";
  if (fault->form == Form::Number || fault->form == Form::NumberPause || fault->form == Form::NumberFile) {
    if (!Number(first, n)) return false;
    if (hasSecond && (fault->form == Form::Number || !Number(rest, second))) return false;
    if (fault->form == Form::NumberFile && (!hasSecond || second < 1 || second > 8)) return false;
  }

  if (name == "silent")
    silent = true;
  else if (name == "short-identity")
    short_identity = true;
  else if (name == "bad-serial") {
    if (value != "empty" && value != "zero" && value != "letter") return false;
    bad_serial = value;
  } else if (name == "cal-missing")
    cal_missing = n;
  else if (name == "cal-pause") {
    cal_pause_at = n;
    if (hasSecond) cal_pause_ms = second;
  } else if (name == "state-empty")
    state_empty = n;
  else if (name == "state-200")
    state_long = n;
  else if (name == "state-nul")
    state_nul = n;
  else if (name == "bad-check")
    bad_check = n;
  else if (name == "bad-check-always")
    bad_check = n, bad_check_always = true;
  else if (name == "wrong-request")
    wrong_request_after = n, wrong_request_file = second;
  else if (name == "abort")
    abort_after = n;
  else if (name == "silent-after")
    silent_after = n;
  else if (name == "garbage-after")
    garbage_after = n;
  else if (name == "idn-late")
    idn_ignored = n;
  else if (name == "power-loss")
    power_loss_in = n;
  else if (name == "vanish-after")
    vanish_after = n;
  error.clear();
  return true;
}

std::string FaultHelp() {
  std::string text;
  for (const FaultName& fault : Names) {
    std::string line = std::string("    ") + fault.name + fault.value;
    line.resize(std::max<std::size_t>(line.size() + 2, 34), ' ');
    text += line + fault.help + "\n";
  }
  return text;
}

}  // namespace sim
