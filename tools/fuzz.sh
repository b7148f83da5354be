#!/usr/bin/env bash
# Builds the readers' fuzz targets with clang, libFuzzer, ASan and UBSan in build-fuzz and runs each for SECONDS
# (default 300) on two cores, starting from the checked-in seeds. New corpus entries and crash inputs stay in a
# scratch folder outside the repository; copy a crash input into tests/fuzz/crashes/<target>/ once it is fixed.
# Prints executions, coverage, features and crashes per target; exits non-zero if any target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
targets=(record_page page_text import_lines version_reply record_url)

bash tools/setup.sh clang libclang-rt-14-dev

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DQUERNFOLD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quernfold-fuzz.XXXXXX")
echo "corpora, logs and crash inputs: $scratch"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

summary=()
crashed=0
for target in "${targets[@]}"; do
    work="$scratch/$target"
    mkdir -p "$work/corpus" "$work/crashes"
    cp tests/fuzz/corpus/"$target"/* "$work/corpus/"
    echo "== $target: ${seconds}s"
    # Fork mode runs two jobs at a time and goes on after a crash, so one run can find more than one.
    status=0
    "./build-fuzz/tests/fuzz/fuzz_$target" "$work/corpus" -dict="tests/fuzz/$target.dict" \
        -max_total_time="$seconds" -fork=2 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$work/crashes/" >"$work/log" 2>&1 || status=$?
    # The last status line of fork mode: "#runs: cov: N ft: N corp: N exec/s N oom/timeout/crash: a/b/c ...".
    stats=$(grep -E '^#[0-9]+: cov: ' "$work/log" | tail -n 1 || true)
    execs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$stats")
    cov=$(sed -E 's/.* cov: ([0-9]+).*/\1/' <<<"$stats")
    ft=$(sed -E 's/.* ft: ([0-9]+).*/\1/' <<<"$stats")
    found=$(find "$work/crashes" -type f | wc -l)
    ((found == 0 && status == 0)) || crashed=1
    summary+=("$(printf '%-14s %12s %8s %8s %8s' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$found")")
    tail -n 3 "$work/log"
done

echo
printf '%-14s %12s %8s %8s %8s\n' target executions cov ft crashes
printf '%s\n' "${summary[@]}"
echo "crash inputs (if any) are in $scratch/<target>/crashes; logs in $scratch/<target>/log"
exit "$crashed"
