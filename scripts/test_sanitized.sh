#!/usr/bin/env bash
# Builds the unit tests of the library folders with AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-asan) and runs them once; any report
# fails the test that caused it. The browser tests and the whole-program
# tests are left to the ordinary run: they test Chromium and the program's
# start as much as our code, and take long under the sanitizers.
source "$(dirname "$0")/common.sh"
install_missing "$top/scripts/packages.txt"
asan_build="$top/build-asan"
folders=(platform webserver bookmarks catalogue pages)

targets=()
for folder in "${folders[@]}"; do
    for source in "$top/tests/$folder"/*_test.cpp; do
        name=$(basename "$source" .cpp)
        [[ $name == *browser* ]] || targets+=("${folder}_$name")
    done
done
cmake -S "$top" -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPAGORAMA_SANITIZE=ON -DPAGORAMA_TESTS=ON >/dev/null
cmake --build "$asan_build" --target "${targets[@]}" -j"$(nproc)"

cd "$asan_build"
export LC_ALL=C.UTF-8
labels=$(IFS='|'; echo "${folders[*]}")
# The memory-bound test measures the process's peak memory, which the
# sanitizer's own allocator (its quarantine of freed blocks) raises.
ctest -L "^($labels)\$" -E 'HugeBodiesAreCutAtTheLimitAndMemoryStaysBounded' \
    --output-on-failure -j"$(nproc)"
