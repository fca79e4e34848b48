#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in build-fuzz/ with clang and runs each for SECONDS
# (default 20), starting from the seeds in tests/fuzz/corpus/<target>/. New inputs go to
# build-fuzz/corpus/<target>/, so the committed seeds stay as they are. Exits non-zero when a
# target crashes or breaks an invariant; the input that did it is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2 --target fuzz_targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/artifacts
failed=()
for seeds in tests/fuzz/corpus/*/; do
    target="$(basename "$seeds")"
    mkdir -p "build-fuzz/corpus/$target"
    echo "== $target for ${seconds}s"
    if ! "build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=1024 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
        "build-fuzz/corpus/$target" "$seeds" 2>"build-fuzz/$target.log"; then
        tail -n 60 "build-fuzz/$target.log"
        failed+=("$target")
    fi
    grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/$target.log" || true
done
if ((${#failed[@]})); then
    echo "fuzzing found faults in: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
    exit 1
fi
