#!/usr/bin/env bash
# Builds Vesperline and shows it at work.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S . -B build/normal "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j "$(nproc 2>/dev/null || echo 2)" --target vesperline >/dev/null
build/normal/app/vesperline
