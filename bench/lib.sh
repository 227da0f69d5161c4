# Shared by the report scripts, which source it from the source tree's root
# with `build` set to the build directory.
#
#   bench_build TARGET...    configures $build (Release, warnings as errors)
#                            when it is new, and builds the targets
#   start_sim NAME [OPT...]  a kestrune-sim on a free port of 127.0.0.1 that
#                            knows the bench key pair (exported as the
#                            credential variables), replay check off; sets
#                            NAME_address (HOST:PORT) and, with
#                            --tls-self-signed, NAME_ca (its CA file). Its
#                            log is $bench_work/NAME.log. Stopped at exit.
#   measure RUNS ARGV...     runs ARGV RUNS times as a whole process (its
#                            output thrown away) and prints the median and
#                            best wall-clock ms and the median CPU ms of the
#                            process itself; a failed run ends the script.

bench_work=$(mktemp -d)
bench_sim_pids=()
bench_cleanup() {
  local pid
  for pid in "${bench_sim_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$bench_work"
}
trap bench_cleanup EXIT

bench_build() {
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_WERROR=ON >/dev/null
  fi
  cmake --build "$build" --target "$@" -j 2 >/dev/null
}

export ALIBABA_CLOUD_ACCESS_KEY_ID=bench-id
export ALIBABA_CLOUD_ACCESS_KEY_SECRET=bench-secret-$$

start_sim() {
  local name=$1 fd banner ca_line
  shift
  mkfifo "$bench_work/$name.fifo"
  "$build/sim/kestrune-sim" --port 0 --nonce-window 0 \
    --access-key "$ALIBABA_CLOUD_ACCESS_KEY_ID:$ALIBABA_CLOUD_ACCESS_KEY_SECRET" "$@" \
    >"$bench_work/$name.fifo" 2>"$bench_work/$name.log" &
  bench_sim_pids+=($!)
  exec {fd}<"$bench_work/$name.fifo"
  read -r -u "$fd" banner || { echo "kestrune-sim $* did not start" >&2; exit 1; }
  case $banner in
    "listening on 127.0.0.1:"*) ;;
    *) echo "kestrune-sim $* did not start: $banner" >&2; exit 1 ;;
  esac
  printf -v "${name}_address" '%s' "${banner#listening on }"
  case " $* " in
    *" --tls-self-signed "*)
      read -r -u "$fd" ca_line && [ -f "$ca_line" ] ||
        { echo "kestrune-sim $* named no CA file" >&2; exit 1; }
      printf -v "${name}_ca" '%s' "$ca_line"
      ;;
  esac
  # The pipe stays open for the simulator's lifetime: a write to a closed one
  # would end it.
}

measure() {
  python3 - "$@" <<'PY'
import os, statistics, sys, time
runs = int(sys.argv[1]); argv = sys.argv[2:]
devnull = os.open(os.devnull, os.O_WRONLY)
wall, cpu = [], []
for _ in range(runs):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    _, status, usage = os.wait4(pid, 0)
    wall.append((time.perf_counter_ns() - start) / 1e6)
    cpu.append((usage.ru_utime + usage.ru_stime) * 1e3)
    if status != 0:
        sys.exit("run failed: " + " ".join(argv))
print(f"{statistics.median(wall):.3f} {min(wall):.3f} {statistics.median(cpu):.3f}")
PY
}
