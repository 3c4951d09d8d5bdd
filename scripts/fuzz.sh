#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each of them for a given time.
#
#   scripts/fuzz.sh [--smoke] [--build-only] [--build-dir DIR] [--parallel N]
#                   [SECONDS] [TARGET...]
#
# DIR (default build/fuzz) is brought up to date first (--build-only: and
# nothing else). SECONDS (default 60) is the run time of each target; without
# TARGETs every target runs, one after the other (--parallel N: N at a time),
# from its seeds in tests/Fuzz/seeds/<target> and its corpus, which grows in
# DIR/fuzz-corpus/<target> from run to run; --smoke replays the seeds into a
# throw-away corpus, for CI. Crashes are kept as DIR/fuzz-artifacts/
# <target>-crash-...; the log of each run is DIR/fuzz-logs/<target>.log and
# DIR/fuzz-totals.tsv adds up every run. Exit status: 0 when every target
# ran clean, 1 when one failed or did not build, 77 when clang or libFuzzer
# is missing.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
smoke=0
build_only=0
parallel=1
seconds=60
targets=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --smoke) smoke=1 ;;
        --build-only) build_only=1 ;;
        --build-dir) build="$(realpath -m "$2")"; shift ;;
        --parallel) parallel="$2"; shift ;;
        -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
        [0-9]*) seconds="$1" ;;
        *) targets+=("$1") ;;
    esac
    shift
done

# Clang with its libFuzzer runtime is needed; without it there is nothing to do.
# Scratch space (throw-away corpora, the targets' QZM480_ROOT in their
# TMPDIR), in memory when possible.
scratch=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && scratch=/dev/shm
probe="$(mktemp -d -p "$scratch" qzm480-fuzz.XXXXXX)"
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    > "$probe/probe.cpp"
if ! command -v clang++ >/dev/null 2>&1 ||
   ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
    echo "fuzz.sh: SKIPPED: clang++ with libFuzzer (libclang-rt-dev) is not installed" >&2
    exit 77
fi

options=()
command -v ninja >/dev/null 2>&1 && options+=(-G Ninja)
command -v ccache >/dev/null 2>&1 &&
    options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${options[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZM480_FUZZ=ON -DQZM480_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target fuzz_all -j "${JOBS:-2}"
[[ $build_only -eq 0 ]] || exit 0

if [[ ${#targets[@]} -eq 0 ]]; then
    mapfile -t targets < "$build/fuzz-targets.txt"
fi

mkdir -p "$build/fuzz-logs" "$build/fuzz-artifacts"
totals="$build/fuzz-totals.tsv"
[[ -f "$totals" ]] || printf 'target\tseconds\texecutions\tedges\tresult\n' > "$totals"

# Runs one target; prints its summary line and records it in the totals.
run_target() {
    local target="$1" corpus log status=0 start end execs edges result timeout=10
    if [[ $smoke -eq 1 ]]; then
        timeout=60  # a hang, not a slow machine
        corpus="$probe/corpus-$target"
    else
        corpus="$build/fuzz-corpus/$target"
    fi
    mkdir -p "$corpus"
    log="$build/fuzz-logs/$target.log"
    start=$(date +%s)
    TMPDIR="$probe" \
    LSAN_OPTIONS="suppressions=$root/tests/Fuzz/lsan.supp:print_suppressions=0" \
    "$build/tests/Fuzz/$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
        "$corpus" "$root/tests/Fuzz/seeds/$target" > "$log" 2>&1 || status=$?
    end=$(date +%s)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)  # none: crashed at once
    result=ok
    [[ $status -eq 0 ]] || result="FAILED (exit $status)"
    printf '%-24s %6ss %12s execs %6s edges  %s\n' "$target" "$((end - start))" \
        "${execs:-?}" "${edges:-?}" "$result"
    if [[ $smoke -eq 0 ]]; then
        printf '%s\t%s\t%s\t%s\t%s\n' "$target" "$((end - start))" "${execs:-0}" \
            "${edges:-0}" "$result" >> "$totals"
    fi
    if [[ $status -ne 0 ]]; then
        grep -E 'ERROR|SUMMARY|runtime error|Test unit written|^    #[0-9]' "$log" | head -30 >&2
        return 1
    fi
}

failed=0
running=0
for target in "${targets[@]}"; do
    if [[ ! -x "$build/tests/Fuzz/$target" ]]; then
        echo "$target: not built" >&2
        failed=1
        continue
    fi
    if [[ $parallel -le 1 ]]; then
        run_target "$target" || failed=1
    else
        run_target "$target" &
        running=$((running + 1))
        if [[ $running -ge $parallel ]]; then
            wait -n || failed=1
            running=$((running - 1))
        fi
    fi
done
while [[ $running -gt 0 ]]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
