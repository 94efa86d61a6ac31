#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing. With the argument
# "clang", also clang; with "fuzz", what the fuzz build needs: clang and its libFuzzer and
# sanitizer runtimes.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libjsoncpp-dev libyaml-cpp-dev
  libboost-dev libboost-date-time-dev libboost-program-options-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev python3
  help2man dpkg-dev file
)
case "${1:-}" in
  clang) packages+=(clang) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
