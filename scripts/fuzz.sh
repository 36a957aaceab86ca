#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (the libraries they read
# with instrumented as well) and runs each for the given seconds (default 60)
# from a copy of its seed corpus, so fuzz/corpus is never changed. Prints each
# target's executions per second and total executions; fails when any target
# finds a crash, a sanitizer report or a broken check (the input is kept in
# the run's folder, whose path is printed). FUZZ_JOBS sets the build's jobs (2).
source "$(dirname "$0")/common.sh"
install_missing "$top/scripts/packages.txt"
seconds="${1:-60}"
fuzz_build="$top/build-fuzz"

cmake -S "$top" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DPAGORAMA_FUZZ=ON -DPAGORAMA_TESTS=OFF >/dev/null
cmake --build "$fuzz_build" --target fuzzers -j"${FUZZ_JOBS:-2}"

work=$(mktemp -d /tmp/pagorama-fuzz.XXXXXX)
export QT_QPA_PLATFORM=offscreen
failed=()
for corpus in "$top"/fuzz/corpus/*/; do
    name=$(basename "$corpus")
    mkdir -p "$work/$name/corpus"
    cp "$corpus"* "$work/$name/corpus/"
    log="$work/$name/log"
    status=0
    (cd "$work/$name" && "$fuzz_build/fuzz/${name}_fuzz" -max_total_time="$seconds" \
        -print_final_stats=1 -timeout=25 corpus) >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-20s %8s execs/s %10s execs\n' "$name" "${rate:-?}" "${execs:-?}"
    if [ "$status" -ne 0 ]; then
        failed+=("$name")
        grep -E 'ERROR|SUMMARY|check failed|runtime error|Test unit written' "$log" | head -8
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]} (logs and inputs in $work)" >&2
    exit 1
fi
rm -rf "$work"
