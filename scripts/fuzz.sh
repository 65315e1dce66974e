#!/usr/bin/env bash
# A fuzzing campaign: builds the fuzz preset (clang 14, libFuzzer,
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs each target for
# SECONDS (default 60), one after another, at the lowest priority.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   targets: decode sampling page
#   scripts/fuzz.sh --merge [TARGET...]     keep the campaign's finds in git
#
# A campaign starts from the committed seeds (fuzz/corpus/TARGET) and the
# regression files; what it finds stays under build/fuzz/campaign, out of
# git: the new corpus entries in corpus/TARGET, the inputs that broke a
# property, crashed, ran out of memory or time in findings/TARGET, the
# engine's output in TARGET.log. It goes on after a finding and exits 1 if
# there was any. A finding, once minimised (TARGET_fuzzer -minimize_crash=1
# FILE), belongs in fuzz/regressions/TARGET, named after the fault.
# --merge adds to fuzz/corpus/TARGET the campaign's entries that reach code
# the seeds do not, minimised by the engine, and only files up to 4 KB.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

merge=0
if [ "${1:-}" = "--merge" ]; then
    merge=1
    shift
    seconds=0
else
    seconds="${1:-60}"
    [ $# -gt 0 ] && shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode sampling page)

# Memory as the program caps it: its picture memory budget is the smaller of
# 2 GiB and a quarter of physical memory. No single allocation may pass the
# budget, and the whole process stays within it plus what the sanitizers and
# the toolkit take of their own.
quarter_mb=$(($(awk '/^MemTotal:/ { print $2 }' /proc/meminfo) / 4 / 1024))
budget_mb=$((quarter_mb < 2048 ? quarter_mb : 2048))
limits=(-malloc_limit_mb="$budget_mb" -rss_limit_mb=$((budget_mb + 1024)))
# Seconds for one input: the program's bound for a hostile picture (3 s),
# with room for the sanitizers and a busy machine.
limits+=(-timeout=30)
declare -A max_len=([decode]=32768 [sampling]=64 [page]=1024)

# clang and its runtime (libFuzzer, the sanitizers) are needed only here.
missing=()
for package in clang-14 libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --preset fuzz >/dev/null
nice -n 19 cmake --build --preset fuzz

out=build/fuzz/campaign
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
found=0
for target in "${targets[@]}"; do
    fuzzer="build/fuzz/fuzz/${target}_fuzzer"
    corpus="$out/corpus/$target"
    rm -rf "$out/findings/$target"
    mkdir -p "$corpus" "$out/findings/$target"
    inputs=("fuzz/corpus/$target")
    [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")

    if [ "$merge" -eq 1 ]; then
        fresh="$(mktemp -d)"
        cp -r "fuzz/corpus/$target/." "$fresh/"
        before="$(ls "$fresh" | wc -l)"
        "$fuzzer" -merge=1 "${limits[@]}" -max_len="${max_len[$target]}" "$fresh" "$corpus" \
            >"$out/$target-merge.log" 2>&1
        for file in "$fresh"/*; do
            name="$(basename "$file")"
            if [ ! -e "fuzz/corpus/$target/$name" ] && [ "$(stat -c %s "$file")" -le 4096 ]; then
                cp "$file" "fuzz/corpus/$target/"
            fi
        done
        echo "$target: $before seeds, $(ls "fuzz/corpus/$target" | wc -l) after the merge"
        rm -rf "$fresh"
        continue
    fi

    echo "== $target: $seconds s"
    # Fork mode with every kind of finding ignored: the campaign goes on
    # after a finding and keeps each in findings/.
    status=0
    nice -n 19 "$fuzzer" "$corpus" "${inputs[@]}" "${limits[@]}" \
        -max_len="${max_len[$target]}" -max_total_time="$seconds" \
        -fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
        -artifact_prefix="$out/findings/$target/" -print_final_stats=1 \
        >"$out/$target.log" 2>&1 || status=$?
    grep -E '^#[0-9]+' "$out/$target.log" | tail -1 || true
    findings="$(find "$out/findings/$target" -type f | wc -l)"
    echo "$target: exit $status, $findings findings in $out/findings/$target"
    if [ "$findings" -gt 0 ] || [ "$status" -ne 0 ]; then found=1; fi
done
exit "$found"
