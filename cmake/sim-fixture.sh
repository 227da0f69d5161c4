#!/usr/bin/env bash
# A simulator that lives as long as the tests that need it; ctest runs this as
# a fixture's setup and cleanup:
#   sim-fixture.sh start DIR SIMULATOR [--lines N] [ARGS...]
#   sim-fixture.sh stop DIR
# "start" runs SIMULATOR --port 0 ARGS in the background, waits until its
# standard output holds N lines (default 1: "listening on ADDRESS"), and
# leaves in DIR: address (the ADDRESS), stdout (every line printed), log (the
# request log, its standard error) and pid. test-env.sh reads them.
# "stop" ends that simulator and removes the files, so no test can find a
# stale address.
set -euo pipefail
action=$1
dir=$2

stop() {
  if [ -f "$dir/pid" ]; then
    local pid
    pid=$(cat "$dir/pid")
    kill "$pid" 2>/dev/null || true
    # Bounded: the simulator stops on SIGTERM at once.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/pid" "$dir/address" "$dir/stdout"
}

case $action in
  start)
    simulator=$3
    shift 3
    lines=1
    if [ "${1:-}" = --lines ]; then
      lines=$2
      shift 2
    fi
    if [ ! -x "$simulator" ]; then
      echo "no simulator at $simulator: build the native preset first" \
        "(cmake --preset native && cmake --build --preset native), or set KESTRUNE_NATIVE_SIM" >&2
      exit 1
    fi
    mkdir -p "$dir"
    stop
    : >"$dir/stdout"
    : >"$dir/log"
    # Detached from ctest's pipes, which ctest waits on before it goes on.
    setsid "$simulator" --port 0 "$@" >"$dir/stdout" 2>"$dir/log" </dev/null &
    echo $! >"$dir/pid"
    for _ in $(seq 300); do
      if [ "$(wc -l <"$dir/stdout")" -ge "$lines" ]; then
        line=$(head -n 1 "$dir/stdout")
        echo "${line#listening on }" >"$dir/address"
        echo "simulator $(cat "$dir/pid") on $(cat "$dir/address"), log $dir/log"
        exit 0
      fi
      kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "the simulator did not start:" >&2
    cat "$dir/stdout" "$dir/log" >&2
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: sim-fixture.sh start DIR SIMULATOR [--lines N] [ARGS...] | stop DIR" >&2
    exit 2
    ;;
esac
