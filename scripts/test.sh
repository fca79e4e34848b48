#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build first, then the sanitizer build. The
# tests start the servers they need (nginx, tinyproxy, FTP) themselves on free loopback ports.
# Last come the checks of the install and the .deb made from the normal build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure --timeout 1200 -j "$(nproc)")
bash scripts/build.sh asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure --timeout 1200 -j "$(nproc)")
# Coverage-guided fuzzing of the code that reads hostile input, 20 seconds per target.
bash scripts/fuzz.sh 20
# The staged install, the desktop entry, the metainfo and the .deb, checked by their validators.
bash scripts/package-check.sh
