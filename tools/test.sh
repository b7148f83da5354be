#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: once on a normal build (whose Debian package
# is then built and checked), once on a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUERNFOLD_WERROR=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
# The Debian package of the normal build: built, then its files and data checked.
bash tools/check_package.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUERNFOLD_SANITIZE=ON -DQUERNFOLD_WERROR=ON
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j2
