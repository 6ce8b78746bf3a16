#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer in its own build
# folder (build-sanitize) and runs the whole CTest suite there. Any report
# fails the test that triggered it.
set -euo pipefail
cd "$(dirname "$0")/.."
SETUP_ONLY_PACKAGES=1 scripts/setup.sh

dir=${SANITIZE_BUILD_DIR:-build-sanitize}
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
if [[ ! -f $dir/CMakeCache.txt ]]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
fi
cmake --build "$dir" -j2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$dir"
ctest --output-on-failure -j2 --timeout 600
