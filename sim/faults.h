#pragma once
// Faults the simulated instrument can be told to show, each named as on the command line
// ("--fault state-empty=12"). Counts of files and queries are 1-based; 0 means off.
#include <string>

namespace sim {

struct Faults {
  bool silent = false;          // silent: never answers under its firmware
  bool short_identity = false;  // short-identity: the identity reply is 14 bytes
  std::string bad_serial;       // bad-serial=empty|zero|letter: the stored serial number is "", "01234" or "A1234"
  int cal_missing = 0;          // cal-missing=N: the last N calibration queries get no reply
  int cal_pause_at = 0;         // cal-pause=K[:MS]: a pause of MS (default 150) before calibration reply K
  int cal_pause_ms = 150;
  int state_empty = 0;            // state-empty=K: no reply to state query K
  int state_long = 0;             // state-200=K: the reply to state query K is exactly 200 bytes
  int state_nul = 0;              // state-nul=K: the reply to state query K holds a NUL byte
  int bad_check = 0;              // bad-check=K: file K fails its check once
  bool bad_check_always = false;  // bad-check-always=K: file K fails its check every time
  int wrong_request_after = 0;    // wrong-request=K:D: after file K the loader asks for file D
  int wrong_request_file = 0;
  int abort_after = -1;   // abort=K: "x" instead of the reply to file K (0: instead of the prompt)
  int silent_after = 0;   // silent-after=K: no reply to file K or after it
  int garbage_after = 0;  // garbage-after=K: a garbage reply to file K
  int idn_ignored = 0;    // idn-late=N: the first N "*IDN?" after new firmware get no answer
  int power_loss_in = 0;  // power-loss=K: the power fails in the middle of file K
  int vanish_after = 0;   // vanish-after=K: the port vanishes after file K

  // Applies one "name" or "name=value"; false with a message when it is not understood.
  bool Apply(const std::string& spec, std::string& error);
};

// One line per fault, for --help.
std::string FaultHelp();

}  // namespace sim
