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

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
"$build/bench/interpreter_bench" --benchmark_format=csv --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=false 2>/dev/null | grep '^"' >"$csv"

# The fastest of the repetitions, in milliseconds.
zentu_ms() {
  awk -F, -v name="\"$1\"" '
    $1 == name {
      t = $3; u = $5
      if (u == "us") t /= 1000; else if (u == "ns") t /= 1000000; else if (u == "s") t *= 1000
      if (best == "" || t < best) best = t
    }
    END { printf "%.6f", best }' "$csv"
}

# The fastest of three runs, in milliseconds.
lua_ms() {
  local best=""
  for _ in 1 2 3; do
    local start end t
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    t=$(( (end - start) / 1000 ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  awk -v t="$best" 'BEGIN { printf "%.3f", t / 1000 }'
}

printf '%-8s %10s %10s %14s %12s %14s\n' program zentu-ms lua5.4-ms luajit-joff-ms zentu/lua5.4 zentu/luajit
for program in fib loop virtual alloc throw; do
  z=$(zentu_ms "runProgram/$program")
  l=$(lua_ms lua5.4 "$here/lua/$program.lua")
  j=$(lua_ms luajit -joff "$here/lua/$program.lua")
  awk -v p="$program" -v z="$z" -v l="$l" -v j="$j" \
    'BEGIN { printf "%-8s %10.1f %10.1f %14.1f %12.2f %14.2f\n", p, z, l, j, z / l, z / j }'
done

echo
printf 'collection, 100,000 live objects: %s ms (target < 5)\n' "$(zentu_ms collectHeapWith100000LiveObjects)"
printf 'entry call, empty event handler with its collection: %s us (target < 20)\n' \
  "$(awk -v t="$(zentu_ms entryCall)" 'BEGIN { printf "%.2f", t * 1000 }')"
