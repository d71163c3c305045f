#!/usr/bin/env bash
# Times the interpreter on the programs of bench/programs and the same algorithms in Lua 5.4
# and in LuaJIT with its compiler off (bench/lua), and prints the ratios. A ratio below 1 means
# the Zentu machine is faster. Targets: every program faster than Lua 5.4; fib and loop within
# 1.5 times LuaJIT -joff. Also prints the collection and entry-call figures.
#
# Usage: bench/run-vm-bench.sh [BUILD_DIR]   (default: build-bench, a Release build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-bench}

for tool in lua5.4 luajit; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTU_TESTS=OFF >/dev/null
cmake --build "$build" --target interpreter_bench -j2 >/dev/null

# The time of one benchmark, in milliseconds.
zentu_ms() {
  "$build/bench/interpreter_bench" --benchmark_format=csv --benchmark_filter="^$1\$" 2>/dev/null |
    awk -F, '/^"/ {
      t = $3; u = $5
      if (u == "us") t /= 1000; else if (u == "ns") t /= 1000000; else if (u == "s") t *= 1000
      printf "%.6f", t
    }'
}

# The time of one run of a command, in milliseconds.
run_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v t="$(( (end - start) / 1000 ))" 'BEGIN { printf "%.3f", t / 1000 }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }

# Three rounds, each running every contender once, so that a slow spell of the machine hits
# them alike; the fastest of the rounds counts.
programs=(fib loop virtual alloc throw)
declare -A zentu lua luajit
for _ in 1 2 3; do
  for program in "${programs[@]}"; do
    zentu[$program]=$(min "${zentu[$program]:-}" "$(zentu_ms "runProgram/$program")")
    lua[$program]=$(min "${lua[$program]:-}" "$(run_ms lua5.4 "$here/lua/$program.lua")")
    luajit[$program]=$(min "${luajit[$program]:-}" "$(run_ms luajit -joff "$here/lua/$program.lua")")
  done
done

printf '%-8s %10s %10s %14s %12s %14s\n' program zentu-ms lua5.4-ms luajit-joff-ms zentu/lua5.4 zentu/luajit
for program in "${programs[@]}"; do
  awk -v p="$program" -v z="${zentu[$program]}" -v l="${lua[$program]}" -v j="${luajit[$program]}" \
    'BEGIN { printf "%-8s %10.1f %10.1f %14.1f %12.2f %14.2f\n", p, z, l, j, z / l, z / j }'
done

echo
printf 'collection, 100,000 live objects: %.2f ms (target < 5)\n' \
  "$(zentu_ms collectHeapWith100000LiveObjects)"
printf 'entry call, empty event handler with its collection: %.2f us (target < 20)\n' \
  "$(awk -v t="$(zentu_ms entryCall)" 'BEGIN { print t * 1000 }')"
