#!/usr/bin/env bash
# Builds the libFuzzer target of the pattern engine (clang++, ASan + UBSan, the
# block allocator on malloc) in build/fuzz and runs it for the given number of
# seconds, seeded with fuzz/corpus (made from the patterns of the tests). Any
# crash, hang, leak or sanitizer report fails the run; its input is left in
# build/fuzz/artifacts.
#
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
dir="$root/build/fuzz"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

echo "==== [fuzz] configure and build"
cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DVESPERLINE_BUILD_FUZZ=ON -DVESPERLINE_BUILD_TESTS=OFF -DVESPERLINE_MALLOC_BLOCKS=ON \
  -DVESPERLINE_SANITIZE=address,undefined -DVESPERLINE_WERROR=ON >/dev/null
cmake --build "$dir" --target fuzz_rex -j 2

echo "==== [fuzz] run for ${seconds}s"
mkdir -p "$dir/corpus" "$dir/artifacts"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
"$dir/fuzz/fuzz_rex" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=640 \
  -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" "$root/fuzz/corpus"
echo "==== [fuzz] no crash, hang, leak or report"
