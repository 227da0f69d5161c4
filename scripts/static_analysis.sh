#!/usr/bin/env bash
# Static analysis of the native sources: clang-tidy with the checks of
# .clang-tidy, then cppcheck. Fails on any finding of either.
#
#   scripts/static_analysis.sh            both tools
#   scripts/static_analysis.sh --tidy     clang-tidy only
#   scripts/static_analysis.sh --cppcheck cppcheck only
#
# Both read build/analysis/compile_commands.json, made by configuring (not
# building) the native tree with clang, so the flags are the ones clang-tidy
# understands. What is analysed: the modules built natively (core, request,
# report, catalogue, cli, sim). Not analysed:
#   - tests/: GoogleTest's macros expand into code that trips several checks,
#     and the tests run under AddressSanitizer and UndefinedBehaviorSanitizer,
#     which find at run time what these checks look for;
#   - ui/ and the *_win32.cc seams: Windows only, absent from a native
#     compile database (the MinGW builds compile them with -Werror);
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

failed=()
if [ $run_tidy = yes ]; then
  echo "=== clang-tidy"
  log="$build/clang-tidy.log"
  # run-clang-tidy exits non-zero when any file has a finding (every check is
  # an error, see WarningsAsErrors in .clang-tidy).
  if ! run-clang-tidy -p "$build" -j 2 -quiet \
      "^$PWD/(core|request|report|catalogue|cli|sim)/" >"$log" 2>&1 ||
      grep -qE '(warning|error): ' "$log"; then
    grep -E '(warning|error): ' "$log" | sort -u
    failed+=(clang-tidy)
  else
    echo "clang-tidy: clean"
  fi
fi

if [ $run_cppcheck = yes ]; then
  echo "=== cppcheck"
  mkdir -p "$build/cppcheck"
  # Suppressions, each a false finding:
  #  - passedByValue in core/text.* and catalogue/dispatch.cc: the parameters
  #    are core::StringListView, a two-word view passed by value like
  #    std::string_view;
  #  - danglingTempReference in cli/call_command.cc and cli/demo_command.cc:
  #    "tracing ? console.Trace() : no_trace" is an lvalue of TraceSink (both
  #    operands are lvalues), no temporary is made.
  if ! cppcheck --project="$build/compile_commands.json" -itests/ -ibuild/ \
      --enable=warning,performance,portability --inline-suppr --error-exitcode=1 \
      -j 2 --quiet --cppcheck-build-dir="$build/cppcheck" \
      --suppress='passedByValue:core/text.h' --suppress='passedByValue:core/text.cc' \
      --suppress='passedByValue:catalogue/dispatch.cc' \
      --suppress='danglingTempReference:cli/call_command.cc' \
      --suppress='danglingTempReference:cli/demo_command.cc' \
      --template='{file}:{line}: {severity} [{id}] {message}'; then
    failed+=(cppcheck)
  else
    echo "cppcheck: clean"
  fi
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "static analysis found problems: ${failed[*]}"
  exit 1
fi
echo "static analysis: clean"
