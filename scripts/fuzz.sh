#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each of them in turn for SECONDS, one process at a time, at the lowest
# priority. Usage: scripts/fuzz.sh SECONDS [TARGET...]   (targets: convert s05 config bmp frame)
#
# Each target starts from its seeds in tests/fuzz/corpus/<target> and keeps what it finds in
# $FUZZ_CORPUS/<target> (default build-fuzz/corpus), outside the repository. A crash, leak,
# hang or sanitizer report stops with a non-zero exit; its input is saved under
# build-fuzz/artifacts/<target>/ (replay: build-fuzz/tests/fuzz/fuzz_<target> FILE).
# $FUZZ_ARGS adds libFuzzer options, e.g. FUZZ_ARGS=-len_control=0 for long inputs at once.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(convert s05 config bmp frame)

build=build-fuzz
corpus_root=${FUZZ_CORPUS:-$build/corpus}
# Only the fuzz targets are built: they need neither the dialog nor the programs.
CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMAWEAVE_FUZZ=ON -DLUMAWEAVE_TESTS=OFF -DLUMAWEAVE_GUI=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null

status=0
for t in "${targets[@]}"; do
  case $t in
    convert) extra=(-max_len=4096 -timeout=60) ;;  # small pictures keep each run quick
    s05) extra=(-max_len=32768 -timeout=10) ;;
    config) extra=(-max_len=4096 -timeout=10 -dict=tests/fuzz/config.dict) ;;
    bmp) extra=(-max_len=16384 -timeout=10) ;;
    frame) extra=(-max_len=2048 -timeout=30) ;;  # up to 64 x 64 pixels, framed twice
    *) echo "unknown target $t" >&2; exit 2 ;;
  esac
  mkdir -p "$corpus_root/$t" "$build/artifacts/$t"
  log=$build/fuzz_$t.log
  echo "fuzz_$t: ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n 19 "$build/tests/fuzz/fuzz_$t" "${extra[@]}" ${FUZZ_ARGS:-} -max_total_time="$seconds" \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" \
    "$corpus_root/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
    # The last status line and the execution count of the final statistics.
    grep -E '^#[0-9]+' "$log" | tail -1
    grep -E 'stat::number_of_executed_units' "$log" || true
  else
    echo "fuzz_$t FAILED; log: $log" >&2
    tail -60 "$log" >&2
    status=1
  fi
done
exit $status
