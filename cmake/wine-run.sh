#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
#   wine-run.sh PREFIX --end-session     (ends every Wine process of PREFIX)
# The prefix is a 64-bit one, which runs 32-bit programs too once 32-bit Wine
# (wine32:i386) is installed and the kernel can execute 32-bit programs. Wine's
# 64-bit loader starts every program: the `wine` wrapper would start the 32-bit
# loader first once wine32 is installed, and on a kernel that cannot execute
# 32-bit programs that fails for 64-bit programs too. It is created once (serialised with a lock,
# since ctest may start several tests at a time); Mono and Gecko are disabled
# so no dialog asks to install them. A prefix made before 32-bit Wine was
# installed cannot start programs afterwards ("could not load kernel32.dll"),
# so the prefix records which Wine made it and is made again when that
# changes.
set -euo pipefail
prefix=$1
shift
if [ "${1:-}" = --end-session ]; then
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -f "$prefix.session" "$prefix.fifo"
  exit 0
fi
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine_bin=/usr/lib/wine/wine64
[ -x "$wine_bin" ] || wine_bin=$(command -v wine64 || command -v wine)
made_by="wine32=$([ -x /usr/lib/wine/wine ] && echo yes || echo no)"
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ "$(cat "$prefix/.kestrune-ready" 2>/dev/null)" != "$made_by" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    "$wine_bin" wineboot -i >/dev/null 2>&1 || true
    # Let the first start finish before a test program runs in the prefix.
    wineserver -w 2>/dev/null || true
    echo "$made_by" >"$prefix/.kestrune-ready"
  fi
  # Each test case is a Wine process of its own: a server that stays a
  # minute after the last one ends saves starting it again for every case
  # (about a second each). Detached from ctest's pipes, which ctest waits on,
  # and from the lock, which the next test waits on.
  wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
  # Wine's own services (services.exe, rpcss.exe, ...) start with the first
  # program and keep its standard error until the last program has been
  # gone a while; started by a test, they hold ctest's pipe and ctest waits
  # for them (about a minute a test). A quiet program that waits on a pipe
  # no one writes keeps them running, started here with no ctest pipe
  # open; at most two hours, or until --end-session.
  if ! kill -0 "$(cat "$prefix.session" 2>/dev/null || echo none)" 2>/dev/null; then
    rm -f "$prefix.fifo"
    mkfifo "$prefix.fifo"
    setsid timeout 7200 "$wine_bin" cmd.exe <>"$prefix.fifo" >/dev/null 2>&1 9>&- &
    echo $! >"$prefix.session"
    # The session starts the services in the background; a test program
    # started before they are up would start them itself, on its own pipes.
    # A first program with no pipes of its own makes sure they are up.
    "$wine_bin" cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
# Windows programs end their lines with CR LF; a test list read by ctest
# (--gtest_list_tests) must not carry the CR into the test names.
# The list goes through files, not a pipe: a Wine service started by the
# program would hold a pipe open, and the reader would wait for it.
for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then
    list=$(mktemp)
    status=0
    "$wine_bin" "$@" </dev/null >"$list" 2>"$list.err" || status=$?
    tr -d '\r' <"$list"
    cat "$list.err" >&2
    rm -f "$list" "$list.err"
    exit "$status"
  fi
done
exec "$wine_bin" "$@"
