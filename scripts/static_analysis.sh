#!/usr/bin/env bash
# Static analysis: clang-tidy with the checks of .clang-tidy, then cppcheck,
# each in two passes. Fails on any finding of either.
#
#   scripts/static_analysis.sh            both tools
#   scripts/static_analysis.sh --tidy     clang-tidy only
#   scripts/static_analysis.sh --cppcheck cppcheck only
#
# Native pass: build/analysis/compile_commands.json, made by configuring (not
# building) the native tree with clang, so the flags are the ones clang-tidy
# understands. It covers the modules built natively (core, request, transport, report,
# catalogue, engine, cli, sim) and their headers.
#
# Windows pass: build/analysis-win64/compile_commands.json, made by
# configuring (not building) a Windows x86_64 tree with the MinGW toolchain.
# It covers only what the native pass cannot see: ui/ (the dialog program, the
# debug viewer and their headers) and the *_win32.cc seams of core, request, transport,
# report and cli. clang-tidy parses them as the MinGW target, with the MinGW
# compiler's C++ library and Windows headers and clang's own builtin headers
# (gcc's intrinsic headers use gcc builtins clang lacks); cppcheck checks them
# as a 64-bit Windows program that knows the Win32 API (--library=windows).
#
# Not analysed:
#   - tests/ (including its *_win32.cc helpers): GoogleTest's macros expand
#     into code that trips several checks, and the tests run under
#     AddressSanitizer and UndefinedBehaviorSanitizer, which find at run time
#     what these checks look for;
#   - the Windows i686 build: the same sources as x86_64; it differs only in
#     type sizes, and its compiler builds it with -Werror;
#   - ui/kestrune.rc (a resource script, not C++);
#   - fuzz/ and bench/: built only on request.
set -euo pipefail
cd "$(dirname "$0")/.."

run_tidy=yes
run_cppcheck=yes
case ${1:-} in
  --tidy) run_cppcheck=no ;;
  --cppcheck) run_tidy=no ;;
  "") ;;
  *) echo "usage: scripts/static_analysis.sh [--tidy | --cppcheck]" >&2; exit 2 ;;
esac

# shellcheck source=deps.sh
. scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${ANALYSIS_PACKAGES[@]}"

build=build/analysis
CC=clang CXX=clang++ cmake -S . -B "$build" -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_WERROR=OFF \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

# The Windows tree. CMake's MinGW rules pass include directories through
# response files, which cppcheck does not read; the project include turns that
# off so the compile database holds the -I flags themselves. Nothing in this
# tree is built: the sources need no generated file.
win_build=build/analysis-win64
mkdir -p "$win_build"
echo 'set(CMAKE_CXX_USE_RESPONSE_FILE_FOR_INCLUDES OFF)' >"$win_build/include-flags.cmake"
# (--no-warn-unused-cli: a configured tree keeps its toolchain and would say
# the repeated --toolchain goes unused.)
cmake -S . -B "$win_build" --toolchain cmake/toolchain-mingw-x86_64.cmake --no-warn-unused-cli \
  -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_WERROR=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_PROJECT_INCLUDE="$PWD/$win_build/include-flags.cmake" >/dev/null
# Only the Windows-only sources; the rest is analysed natively.
win_sources="^$PWD/(ui/[^/]*|[^/]+/[^/]*_win32)\.cc\$"

# clang-tidy's arguments for the MinGW target: the target the cross compiler
# names, no host include directory, then the compiler's own search list with
# gcc's private header directories (include, include-fixed) left to clang's
# builtin ones, which sit between the C++ library and the Windows headers.
win_tidy_args() {
  local cxx gcc_include target dir before=yes
  # The compiler of the database's commands.
  cxx=$(sed -n '/^ *"command": /{s/^ *"command": "\([^ ]*\) .*/\1/p;q}' \
    "$win_build/compile_commands.json")
  target=$("$cxx" -dumpmachine)
  gcc_include=$(realpath -m "$("$cxx" -print-file-name=include)")
  echo "-extra-arg=--target=$target"
  echo "-extra-arg=-nostdlibinc"
  "$cxx" -E -x c++ - -v </dev/null 2>&1 |
    sed -n '/^#include <\.\.\.> search starts here:$/,/^End of search list\.$/s/^ //p' |
    while read -r dir; do
      dir=$(realpath -m "$dir")
      case $dir in
        "$gcc_include" | "$gcc_include-fixed") before=no ;;
        *) if [ $before = yes ]; then
             echo "-extra-arg=-isystem$dir"
           else
             echo "-extra-arg=-idirafter$dir"
           fi ;;
      esac
    done
}

failed=()
# run_tidy NAME BUILD-DIR FILE-REGEX [EXTRA-ARGS...]
run_tidy() {
  local name=$1 dir=$2 files=$3
  shift 3
  local log="$dir/clang-tidy.log"
  # run-clang-tidy exits non-zero when any file has a finding (every check is
  # an error, see WarningsAsErrors in .clang-tidy).
  if ! run-clang-tidy -p "$dir" -j 2 -quiet "$@" "$files" >"$log" 2>&1 ||
      grep -qE '(warning|error): ' "$log"; then
    # (without run-clang-tidy's colour codes)
    grep -E '(warning|error): ' "$log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u
    failed+=("clang-tidy ($name)")
  else
    echo "clang-tidy ($name): clean"
  fi
}

# run_cppcheck NAME BUILD-DIR [EXTRA-ARGS...]
run_cppcheck() {
  local name=$1 dir=$2
  shift 2
  mkdir -p "$dir/cppcheck"
  if ! cppcheck --project="$dir/compile_commands.json" -itests/ -ibuild/ \
      --enable=warning,performance,portability --inline-suppr --error-exitcode=1 \
      -j 2 --quiet --cppcheck-build-dir="$dir/cppcheck" \
      "${common_suppressions[@]}" "$@" \
      --template='{file}:{line}: {severity} [{id}] {message}'; then
    failed+=("cppcheck ($name)")
  else
    echo "cppcheck ($name): clean"
  fi
}

if [ $run_tidy = yes ]; then
  echo "=== clang-tidy"
  run_tidy native "$build" "^$PWD/(core|request|transport|report|catalogue|engine|cli|sim)/"
  mapfile -t tidy_win_args < <(win_tidy_args)
  run_tidy windows "$win_build" "$win_sources" "${tidy_win_args[@]}"
fi

if [ $run_cppcheck = yes ]; then
  echo "=== cppcheck"
  # Suppressions, each a false finding:
  #  - passedByValue in core/text.* and catalogue/dispatch.cc: the parameters
  #    are core::StringListView, a two-word view passed by value like
  #    std::string_view (ui/ says so at each such parameter, inline);
  #  - danglingTempReference in cli/call_command.cc and cli/demo_command.cc:
  #    "tracing ? console.Trace() : no_trace" is an lvalue of TraceSink (both
  #    operands are lvalues), no temporary is made.
  # Those in the Windows sources are inline (cppcheck-suppress), each with its
  # reason.
  common_suppressions=(
    --suppress='passedByValue:core/text.h' --suppress='passedByValue:core/text.cc'
    --suppress='passedByValue:catalogue/dispatch.cc'
    --suppress='danglingTempReference:cli/call_command.cc'
    --suppress='danglingTempReference:cli/demo_command.cc')
  run_cppcheck native "$build"
  # Windows-only sources, as a 64-bit Windows program that uses the Win32 API.
  run_cppcheck windows "$win_build" --platform=win64 --library=windows \
    --file-filter='*_win32.cc' --file-filter='ui/*.cc'
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "static analysis found problems: ${failed[*]}"
  exit 1
fi
echo "static analysis: clean"
