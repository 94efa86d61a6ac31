#!/usr/bin/env bash
# The fuzzing gate: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own folder, then runs each for SECONDS (default 60) on a
# scratch copy of its seed corpus, so that the repository's corpus stays as it is. Exits 1 when
# any target reports a finding (crash, sanitizer report, leak, failed check, hang, memory blow-up);
# the input that caused it is kept under the build folder's fuzz-findings/.
#
# usage: scripts/run-fuzzers.sh [SECONDS [TARGET...]]
#   FUZZ_BUILD  build folder (default build-fuzz)      FUZZ_JOBS  build jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_cache_record fuzz_control_request fuzz_configuration
                                     fuzz_modbus_reply fuzz_history_reader fuzz_wire_reply)
build=${FUZZ_BUILD:-build-fuzz}

bash scripts/setup-deps.sh fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPX46_BUILD_FUZZ=ON -DPX46_BUILD_TESTS=OFF -DPX46_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzzers -j "${FUZZ_JOBS:-2}"

findings=$root/$build/fuzz-findings
rm -rf "$findings"
mkdir -p "$findings"
# The targets write files (configurations, histories) and flush them: keep that off the disk.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$shm/px46-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failed=()
for target in "${targets[@]}"; do
  corpus=$scratch/corpus/$target
  mkdir -p "$corpus" "$scratch/tmp/$target"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/
  max_len=4096
  case $target in
    fuzz_cache_record) max_len=8192 ;;     # a record and then some
    fuzz_history_reader) max_len=16384 ;;  # a few records
  esac
  log=$findings/$target.log
  if TMPDIR=$scratch/tmp/$target UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/bin/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
      -max_len="$max_len" -artifact_prefix="$findings/$target-" "$corpus" >"$log" 2>&1; then
    echo "$target: no finding; $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)"
  else
    echo "$target: FINDING (log and input in $findings)"
    tail -n 60 "$log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
