#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created once (serialised with a lock, since ctest may start
# several tests at a time); Mono and Gecko are disabled so no dialog asks to
# install them.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine_bin=$(command -v wine64 || command -v wine)
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.kestrune-ready" ]; then
    "$(dirname "$wine_bin")/wineboot" -i >/dev/null 2>&1 || true
    # Let the first start finish before a test program runs in the prefix.
    wineserver -w 2>/dev/null || true
    touch "$prefix/.kestrune-ready"
  fi
) 9>"$prefix.lock"
exec "$wine_bin" "$@"
