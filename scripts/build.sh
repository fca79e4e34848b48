#!/usr/bin/env bash
# Builds the program and its tests: build/ normally, build-asan/ with AddressSanitizer and
# UndefinedBehaviorSanitizer when called with "asan".
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = asan ]; then
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON >/dev/null
    cmake --build build-asan -j2
else
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j2
fi
