#!/usr/bin/env bash
# Builds Vesperline and shows it at work: two demo device consoles
# (examples/demo_device) on free loopback ports, driven by the command file
# examples/demo.vl from one queue of atoms, with everything logged to a file.
#
# Usage: scripts/demo.sh [--bin-dir DIR] [--out-dir DIR]
#   --bin-dir DIR  use the programs already built in DIR (no build)
#   --out-dir DIR  where the filled-in command file and the log go (build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

bin=""
out="build/demo"
while [ $# -gt 0 ]; do
  case "$1" in
    --bin-dir) bin=$2; shift 2 ;;
    --out-dir) out=$2; shift 2 ;;
    *) echo "usage: scripts/demo.sh [--bin-dir DIR] [--out-dir DIR]" >&2; exit 2 ;;
  esac
done

if [ -z "$bin" ]; then
  ensure_build_deps
  generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  echo "Building Vesperline (build/normal)..."
  cmake -S . -B build/normal "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/normal -j "$(nproc 2>/dev/null || echo 2)" --target vesperline demo_device >/dev/null
  bin=build/normal
fi
vesperline="$bin/app/vesperline"
device="$bin/examples/demo_device"
mkdir -p "$out"
out=$(cd "$out" && pwd)

pids=()
stop_devices() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap stop_devices EXIT

# Starts one device on a port the system picks and sets "port" to that port.
port=""
start_device() {
  local name=$1 portfile="$out/$1.port"
  rm -f "$portfile"
  "$device" --name "$name" --port 0 --max-seconds 300 >"$portfile" 2>/dev/null </dev/null &
  pids+=($!)
  for _ in $(seq 200); do
    if [ -s "$portfile" ]; then port=$(head -n 1 "$portfile"); return 0; fi
    sleep 0.05
  done
  echo "demo: the device $name did not start" >&2
  return 1
}
start_device edge; edge=$port
start_device core; core=$port

log="$out/demo.log"
sed -e "s|@EDGE@|127.0.0.1:$edge|" -e "s|@CORE@|127.0.0.1:$core|" -e "s|@LOG@|$log|" \
  examples/demo.vl >"$out/demo.vl"

echo "Two demo devices: edge on 127.0.0.1:$edge, core on 127.0.0.1:$core"
echo "Running: $vesperline $out/demo.vl"
echo
rc=0
"$vesperline" "$out/demo.vl" </dev/null || rc=$?
stop_devices
trap - EXIT
echo
if [ "$rc" -eq 0 ]; then
  echo "Demo finished. The log file (traffic of both connections and system events): $log"
else
  echo "Demo failed: vesperline ended with exit code $rc. The log file: $log" >&2
fi
exit "$rc"
