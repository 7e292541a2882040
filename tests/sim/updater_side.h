#pragma once
// What the updater sends the instrument, written out as the tests play the updater's part.
#include <string>

namespace sim {

using namespace std::string_literals;

// The calibration query list, written with its NUL: 312 bytes.
inline const std::string CalQueryList =
    "$dia 1\n$afs? 1\n$aco? 1\n$afs? 2\n$aco? 2\n$afs? 3\n$aco? 3\n$afs? 4\n$aco? 4\n$hbt?  \n"
    "$dco? 1\n$dfs? 1\n$dco? 2\n$dfs? 2\n$dco? 3\n$dfs? 3\n$dco? 4\n$dfs? 4\n"
    "$d20? 0\n$ies? 0\n$d20? 1\n$ies? 1\n$d20? 2\n$ies? 2\n$d20? 3\n$ies? 3\n"
    "$hgt? 0\n$hgt? 2\n$hgt? 1\n$hgt? 3\n$ifs? 3\n$ifs? 2\n$ifs? 1\n$ifs? 0\n"
    "$pfs? 0\n$pco? 0\n$pfs? 1\n$pco? 1\n$pdg?  \n"s +
    '\0';

}  // namespace sim
