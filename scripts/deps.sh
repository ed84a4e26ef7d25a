#!/usr/bin/env bash
# Installs the development packages the build needs when they are missing:
# libedit (the console's line editor). Sourced by test.sh and demo.sh; as root
# with apt-get it installs them, otherwise it says what to install and CMake
# stops with the same advice.
ensure_build_deps() {
  local missing=()
  [ -e /usr/include/histedit.h ] || [ -e /usr/local/include/histedit.h ] || missing+=(libedit-dev)
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing ${missing[*]}..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null ||
      { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null; }
  else
    echo "Missing development packages: ${missing[*]} (install them, e.g. sudo apt-get install ${missing[*]})" >&2
  fi
}
