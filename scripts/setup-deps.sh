#!/usr/bin/env bash
# Installs the Debian packages the build and its tests need (socat bridges a serial line over
# TCP in the wire tests, tshark decodes the runner's packet capture there; systemd's
# systemd-analyze and systemd-sysusers check the package's service; valgrind runs the tests
# labelled valgrind under memcheck; civetweb serves the runner's HTTP endpoint, which a real
# Prometheus server scrapes in the tests and its promtool checks; libjs-chart.js is the chart
# library the runner's page loads, chromium the browser its test loads the page in, with a font
# for the page's Chinese names), only those that are missing. With the argument "clang", also
# clang; with "fuzz", what the fuzz build needs: clang and its libFuzzer and sanitizer runtimes;
# with "lintian", the package checker CI runs on the Debian package; with "format", clang-format.
# tshark's own package asks whether users may capture; a non-interactive install keeps its default
# (no), which reading a file does not need.
# Quiet: one line per step on standard error; apt's and dpkg's own output goes to a log, shown
# only when a step fails.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libjsoncpp-dev libyaml-cpp-dev
  libboost-dev libboost-date-time-dev libboost-program-options-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev libpcap-dev libcivetweb-dev python3
  help2man dpkg-dev file
  socat tshark systemd valgrind prometheus
  libjs-chart.js chromium fonts-wqy-microhei
)
case "${1:-}" in
  clang) packages+=(clang) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  lintian) packages+=(lintian) ;;
  format) packages+=(clang-format) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
log=$(mktemp "${TMPDIR:-/tmp}/setup-deps.  socat tshark systemd valgrind
  socat tshark systemd valgrind
  socat tshark systemd valgrind
  socat tshark systemd valgrind
  socat tshark systemd valgrind
  socat tshark systemd valgrind
.log")
step() {
  echo "setup-deps: $1" >&2
  shift
  if ! "$@" >>"$log" 2>&1; then
    echo "setup-deps: failed; the last lines of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}
step "updating the package lists" $sudo_cmd apt-get update -qq
step "installing ${missing[*]}" $sudo_cmd env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends "${missing[@]}"
echo "setup-deps: done" >&2
rm -f "$log"
