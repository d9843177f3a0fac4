#!/bin/sh
# make fuzz: builds the fuzz targets with clang, libFuzzer and the sanitizers
# (build/fuzz), runs each for a set time and merges what reached new code into
# the kept corpus (fuzz/corpus/TARGET), which the tests replay. The kept
# corpus counts code reached, not how often (-use_counters=0), so it stays at
# tens of kilobytes; the working corpus keeps the rest.
#
#   fuzz/run.sh [TARGET...]     TARGET: load song chip settings shell vgm (default all)
#
#   FUZZ_SECONDS  seconds per target (default 180)
#   FUZZ_JOBS     fuzzing processes per target (default: the machine's cores)
#   JOBS          build jobs (default 2)
#   FUZZ_MINIMISE=1  afterwards, cut the kept corpus down to the fewest
#                 inputs that reach all the code it reaches (files named
#                 finding-* always stay)
#
# Each target fuzzes a working corpus of its own (build/fuzz/corpus/TARGET,
# kept between runs) that starts from the kept corpus, the song builder's
# seeds and the demo song. A finding is written to build/fuzz/findings/TARGET/;
# the run goes on with the other targets and fails at the end. Replay one
# with build/native/fuzz/tamboril_fuzz_TARGET FILE, fix it, and copy the file
# into fuzz/corpus/TARGET as finding-NAME so that the tests keep it fixed.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
targets=${*:-load song chip settings shell vgm}
seconds=${FUZZ_SECONDS:-180}
fuzz_jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 1)}
jobs=${JOBS:-2}
build=build/fuzz

cxx=$(command -v clang++-14 || command -v clang++ || true)
cc=$(command -v clang-14 || command -v clang || true)
if [ -z "$cxx" ] || [ -z "$cc" ]; then
    echo "fuzz/run.sh: no clang; run scripts/bootstrap fuzz" >&2
    exit 1
fi

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
if [ ! -f $build/build.ninja ]; then
    cmake -S . -B $build -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags"
fi
# shellcheck disable=SC2046,SC2086
cmake --build $build -j"$jobs" --target tamboril_fuzz_seeds $(printf ' tamboril_fuzz_%s' $targets)

rm -rf $build/seeds
$build/fuzz/tamboril_fuzz_seeds $build/seeds

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
found=""
for t in $targets; do
    work=$build/corpus/$t
    findings=$build/findings/$t
    mkdir -p "$work" "$findings" $build/logs fuzz/corpus/"$t"
    cp fuzz/corpus/"$t"/* $build/seeds/"$t"/* "$work"/ 2>/dev/null || true
    case $t in load|song|shell) cp examples/demo.gym.zip "$work"/demo ;; esac
    log=$build/logs/$t.log
    echo "=== $t: $seconds s on $fuzz_jobs core(s), log $log"
    mode=""
    [ "$fuzz_jobs" -le 1 ] || mode="-fork=$fuzz_jobs"
    # shellcheck disable=SC2086
    $build/fuzz/tamboril_fuzz_$t $mode -dict=fuzz/tamboril.dict -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings"/ "$work" >"$log" 2>&1 || true
    grep -E '^#[0-9]+.*(DONE|pulse|NEW)|stat::(number_of_executed_units|average_exec_per_sec)' "$log" |
        tail -n 3 || true
    if [ -n "$(find "$findings" -type f)" ]; then
        echo "$t: FINDINGS in $findings:"
        ls "$findings"
        found="$found $t"
    fi
    # Inputs that reach new code join the kept corpus; what it had stays.
    if ! $build/fuzz/tamboril_fuzz_"$t" -merge=1 -use_counters=0 fuzz/corpus/"$t" "$work" >>"$log" 2>&1; then
        echo "$t: the merge failed, see $log"
        found="$found $t"
    elif [ "${FUZZ_MINIMISE:-0}" = 1 ]; then
        fresh=$build/minimised/$t
        rm -rf "$fresh" && mkdir -p "$fresh"
        $build/fuzz/tamboril_fuzz_"$t" -merge=1 -use_counters=0 "$fresh" fuzz/corpus/"$t" >>"$log" 2>&1
        find fuzz/corpus/"$t" -name 'finding-*' -exec cp {} "$fresh"/ \;
        find fuzz/corpus/"$t" -type f ! -name '.*' -delete
        cp "$fresh"/* fuzz/corpus/"$t"/
    fi
    echo "$t: kept corpus $(find fuzz/corpus/"$t" -type f ! -name '.*' | wc -l) files," \
        "$(find fuzz/corpus/"$t" -type f ! -name '.*' -exec cat {} + | wc -c) bytes"
done
if [ -n "$found" ]; then
    echo "fuzz/run.sh: findings in:$found" >&2
    exit 1
fi
