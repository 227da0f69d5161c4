#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on every library) in build/fuzz and runs each one
# for a bounded time over its committed seed corpus. Fails on any crash, leak,
# time-out or broken check; the input that caused it is kept in
# build/fuzz/artifacts/.
#
#   fuzz/run.sh                    30 s per target (what the test command runs)
#   fuzz/run.sh --seconds 5        5 s per target
#   fuzz/run.sh --fuzz-minutes 20  a longer local run: 20 minutes per target
#   fuzz/run.sh --only reply_fuzzer
#
# New inputs found on the way go to build/fuzz/corpus/<target>/ (kept between
# runs, never committed); to grow the committed seeds, minimise them first:
#   build/fuzz/fuzz/<target> -merge=1 fuzz/corpus/<target> build/fuzz/corpus/<target>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
only=""
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --fuzz-minutes) seconds=$(($2 * 60)); shift 2 ;;
    --only) only=$2; shift 2 ;;
    *) echo "usage: fuzz/run.sh [--seconds S | --fuzz-minutes N] [--only TARGET]" >&2; exit 2 ;;
  esac
done

# shellcheck source=../scripts/deps.sh
. scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${ANALYSIS_PACKAGES[@]}"

build=build/fuzz
# target:longest input. Replies go past the 8191-byte search window; request
# heads past the simulator's 16 KiB cap; signer inputs past every limit.
targets=(reply_fuzzer:20000 sim_request_fuzzer:20000 signer_fuzzer:4096)
for extra in json_reply_fuzzer:20000 exchange_fuzzer:40000 credentials_fuzzer:2048 proxy_fuzzer:4096 credential_files_fuzzer:8192 credential_documents_fuzzer:4096; do
  [ -f "fuzz/${extra%%:*}.cc" ] && targets+=("$extra")
done

names=()
for t in "${targets[@]}"; do names+=("${t%%:*}"); done

CC=clang CXX=clang++ cmake -S . -B "$build" -DKESTRUNE_FUZZ=ON -DKESTRUNE_BUILD_TESTS=OFF \
  -DKESTRUNE_WERROR=OFF -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O1" >/dev/null
cmake --build "$build" -j 2 --target "${names[@]}"

mkdir -p "$build/artifacts"
failed=()
ran=0
for t in "${targets[@]}"; do
  name=${t%%:*}
  max_len=${t##*:}
  [ -n "$only" ] && [ "$only" != "$name" ] && continue
  work="$build/corpus/$name"
  mkdir -p "$work"
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  echo "=== $name: ${seconds} s"
  ran=$((ran + 1))
  # The first corpus directory receives new inputs; the committed seeds are
  # only read.
  if ! "$build/fuzz/$name" "$work" "fuzz/corpus/$name" "${dict[@]}" \
      -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 \
      >"$build/$name.log" 2>&1; then
    failed+=("$name")
    tail -n 60 "$build/$name.log"
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov:' "$build/$name.log" |
      tail -n 3
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/artifacts/)"
  exit 1
fi
echo "fuzzing: $ran targets clean"
