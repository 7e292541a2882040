#!/usr/bin/env bash
# Sets up and runs every test: all of them built with AddressSanitizer and UndefinedBehaviorSanitizer
# (the window offscreen), then everything without Qt again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTMV_SANITIZE=address,undefined >/dev/null
cmake --build build/asan -j"$jobs"
(cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTMV_SANITIZE=thread -DTMV_WITH_QT=OFF >/dev/null
cmake --build build/tsan -j"$jobs"
# ThreadSanitizer slows the simulated instrument's replies down to several milliseconds, so its
# run gives every 100 ms read time-out a little more real time.
(cd build/tsan && TMV_TEST_TIME_SCALE=${TMV_TEST_TIME_SCALE:-0.15} ctest --output-on-failure)
