#!/usr/bin/env bash
# Builds and runs every test of Vesperline: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build (block allocator on malloc), and a
# ThreadSanitizer build. Any failing test or sanitizer report fails the run.
#
# Usage: scripts/test.sh [normal|asan|tsan|fuzz ...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

run_config() {
  local name=$1; shift
  local dir="$root/build/$name"
  echo "==== [$name] configure and build"
  cmake -S "$root" -B "$dir" "${generator[@]}" -DVESPERLINE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "==== [$name] test"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

ensure_build_deps
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(normal asan tsan fuzz)
for c in "${configs[@]}"; do
  case "$c" in
    normal) run_config normal -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan)   run_config asan -DCMAKE_BUILD_TYPE=Debug -DVESPERLINE_SANITIZE=address,undefined -DVESPERLINE_MALLOC_BLOCKS=ON ;;
    tsan)   run_config tsan -DCMAKE_BUILD_TYPE=Debug -DVESPERLINE_SANITIZE=thread ;;
    fuzz)   if [ -x scripts/fuzz.sh ]; then scripts/fuzz.sh 60; fi ;;
    *) echo "unknown configuration: $c" >&2; exit 2 ;;
  esac
done
echo "==== all tests passed"
