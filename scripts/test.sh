#!/usr/bin/env bash
# Builds everything and runs every test through ctest: the suite, a short
# fuzz run, and the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Any failure or sanitizer report fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
scripts/build.sh test
ctest --test-dir build --output-on-failure --parallel 2

echo "== fuzz run (libFuzzer, clang)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQGRAD_FUZZ=ON \
  -DQGRAD_BUILD_TESTS=OFF -DQGRAD_BUILD_BENCH=OFF -DQGRAD_BUILD_PROGRAMS=OFF
cmake --build build-fuzz --parallel
ctest --test-dir build-fuzz/fuzz --output-on-failure

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQGRAD_SANITIZE=ON -DQGRAD_BUILD_BENCH=OFF
cmake --build build-asan --parallel
# intercept_tls_get_addr=0: this toolchain's leak checker trips over the
# dynamic TLS of Qt's plugins at exit without it.
ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 \
LSAN_OPTIONS=suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --parallel 2
