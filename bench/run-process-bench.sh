#!/usr/bin/env bash
# Runs every program of bench/apps as a whole process - zentu-run on the assembled image
# against lua5.4 and luajit -joff on the Lua program of the same work (NAME.luajit.lua where
# LuaJIT's Lua 5.1 needs other words for it), start-up and loading included - several rounds in turn, so that a slow spell of the machine hits all three alike.
# Writes the table (best and median wall time, peak memory, ratios of the medians) to
# docs/PERFORMANCE.md and prints it.
#
# Usage: bench/run-process-bench.sh [ROUNDS] [BUILD_DIR]   (default: 7 rounds, build-bench,
# a Release build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
rounds=${1:-7}
build=${2:-$root/build-bench}
report=$root/docs/PERFORMANCE.md

for tool in lua5.4 luajit python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTU_TESTS=OFF >/dev/null
cmake --build "$build" --target zentu-run zentu-asm -j2 >/dev/null
run=$build/tools/zentu-run/zentu-run
work=$build/bench-apps

# name|description|foreground events
programs=(
  "fib|fib(31) twice, two call styles|0"
  "loop|1e8 masked additions, up and down|0"
  "virtual|2e7 virtual calls|0"
  "fields|1e7 object field updates|0"
  "alloc|allocation churn, 2000 events of 1000 objects, one collection each|2000"
  "string|a 100,000-character string, one character at a time|0"
  "split|split of 1 MB, by a string and by a character|0"
  "fixed|4e6 Fixed multiplications|0"
  "empty|start to exit, empty main|0"
)

# Each image is assembled and run once, and its log checked, before anything is timed.
for entry in "${programs[@]}"; do
  IFS='|' read -r name _ events <<<"$entry"
  mkdir -p "$work/$name"
  "$build/tools/zentu-asm" "$here/apps/$name.s" -o "$work/$name/index.mcb"
  : >"$work/$name.events"
  for ((i = 0; i < events; i++)); do echo foreground; done >"$work/$name.events"
  if ! "$run" --events "$work/$name.events" "$work/$name" 2>"$work/$name.log" ||
    ! cmp -s "$work/$name.log" "$here/apps/$name.expected"; then
    echo "$name: zentu-run did not give the expected log:" >&2
    cat "$work/$name.log" >&2
    exit 1
  fi
done

# One run: appends "wall-us peak-KiB" to the file $1. Python times the command from its start
# to its reaping, so no timer's own start-up is counted; the peak comes from a second run under
# /usr/bin/time, as a process forked from Python would count Python's memory as its own.
measure() {
  local out=$1 wall
  shift
  wall=$(python3 - "$@" <<'PYTHON'
import os, subprocess, sys, time
start = time.perf_counter_ns()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
_, status, _ = os.wait4(child.pid, 0)
end = time.perf_counter_ns()
child.returncode = status
sys.exit(1) if status != 0 else print((end - start) // 1000)
PYTHON
  ) || { echo "failed: $*" >&2; exit 1; }
  /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  echo "$wall $(cat "$work/peak")" >>"$out"
}

for entry in "${programs[@]}"; do
  IFS='|' read -r name _ _ <<<"$entry"
  rm -f "$work/$name".{zentu,lua,luajit}.runs
done
for ((round = 1; round <= rounds; round++)); do
  for entry in "${programs[@]}"; do
    IFS='|' read -r name _ _ <<<"$entry"
    measure "$work/$name.zentu.runs" "$run" --events "$work/$name.events" "$work/$name"
    measure "$work/$name.lua.runs" lua5.4 "$here/apps/$name.lua"
    script=$here/apps/$name.lua
    [ -e "$here/apps/$name.luajit.lua" ] && script=$here/apps/$name.luajit.lua
    measure "$work/$name.luajit.runs" luajit -joff "$script"
  done
done

# "best median peak" of a runs file: milliseconds, milliseconds, MiB.
summary() {
  sort -n "$1" | awk '{ t[NR] = $1 / 1000; if ($2 > peak) peak = $2 }
    END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
          printf "%.1f %.1f %.1f", t[1], m, peak / 1024 }'
}

{
  echo "# Performance"
  echo
  echo "Whole processes, measured by \`bench/run-process-bench.sh\` ($rounds rounds, the three"
  echo "contenders in turn): \`zentu-run\` on the image of \`bench/apps/NAME.s\` against \`lua5.4\` and"
  echo "\`luajit -joff\` on \`bench/apps/NAME.lua\`. Times are wall milliseconds, best / median;"
  echo "ratios are of the medians (below 1: this runtime is faster); peak is the largest resident"
  echo "set in MiB."
  echo
  echo "| program | zentu-run | lua5.4 | luajit -joff | ratio to Lua | ratio to LuaJIT -joff | peak MiB (zentu / lua / luajit) |"
  echo "|---|---|---|---|---|---|---|"
  for entry in "${programs[@]}"; do
    IFS='|' read -r name description _ <<<"$entry"
    read -r zb zm zp <<<"$(summary "$work/$name.zentu.runs")"
    read -r lb lm lp <<<"$(summary "$work/$name.lua.runs")"
    read -r jb jm jp <<<"$(summary "$work/$name.luajit.runs")"
    awk -v d="$description" -v zb="$zb" -v zm="$zm" -v lb="$lb" -v lm="$lm" -v jb="$jb" -v jm="$jm" \
      -v zp="$zp" -v lp="$lp" -v jp="$jp" 'BEGIN {
        printf "| %s | %s / %s | %s / %s | %s / %s | %.2f | %.2f | %s / %s / %s |\n",
          d, zb, zm, lb, lm, jb, jm, zm / lm, zm / jm, zp, lp, jp }'
  done
  echo
  echo "Machine: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)."
} >"$report"
cat "$report"
