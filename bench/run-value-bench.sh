#!/bin/sh
# The value-library benchmarks beside the same work in Lua 5.4.
# Usage: bench/run-value-bench.sh [release build directory, default build-rel]
# Prints, per benchmark, the runtime's and Lua's time for one run and their ratio
# (runtime / Lua: below 1 means faster than Lua).
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build-rel}

# compare LABEL EXECUTABLE BENCHMARK LUA_CHUNK
# LUA_CHUNK does the benchmark's work once; the best of five runs counts.
compare() {
    label=$1 exe=$BUILD/bench/$2 name=$3 chunk=$4
    ours=$("$exe" --benchmark_filter="^$name\$" --benchmark_format=csv 2>/dev/null |
        awk -F, -v n="\"$name\"" '$1 == n {
            f = ($5 == "ns") ? 1e-6 : ($5 == "us") ? 1e-3 : ($5 == "ms") ? 1 : 1000
            printf "%.3f", $4 * f }')
    lua=$(lua5.4 -e "local function work() $chunk end
        work()
        local best = math.huge
        for _ = 1, 5 do
            local t = os.clock(); work(); best = math.min(best, os.clock() - t)
        end
        io.write(string.format('%.3f', best * 1000))")
    awk -v l="$label" -v o="$ours" -v u="$lua" \
        'BEGIN { printf "%-40s %10.3f ms  Lua %10.3f ms  ratio %.2f\n", l, o, u, o / u }'
}

# Vectors: appending 1,000,000 elements one by one.
compare "vector append 1M words" vector_bench BM_VectorAppendWords \
    "local t = {} for i = 1, 1000000 do t[#t + 1] = i end"
compare "vector append 1M bytes" vector_bench BM_VectorAppendBytes \
    "local t = {} for i = 1, 1000000 do t[#t + 1] = i & 255 end"
compare "vector append 1M four-word elements" vector_bench BM_VectorAppendFourWords \
    "local t = {} for i = 1, 1000000 do local n = #t t[n + 1] = i t[n + 2] = i t[n + 3] = i t[n + 4] = i end"

# Strings: 1,000,000 one-unit appends, splitting and replace-all on 1 MB of text. Lua builds
# its string through a table (repeated .. would be quadratic) and has no case-insensitive
# split or replace: the ignoring-case rows run against the same exact Lua work.
TEXT="text = text or string.rep('lorem ipsum dolor sit amet ', 38836)"
compare "string append 1M units" string_bench BM_StringAppendUnits \
    "local t = {} for i = 0, 999999 do t[#t + 1] = string.char(97 + i % 26) end local s = table.concat(t)"
compare "string split 1 MB" string_bench BM_StringSplitExact \
    "$TEXT local t = {} for w in text:gmatch('[^ ]+') do t[#t + 1] = w end"
compare "string split 1 MB ignoring case" string_bench BM_StringSplitIgnoringCase \
    "$TEXT local t = {} for w in text:gmatch('[^ ]+') do t[#t + 1] = w end"
compare "string replace-all 1 MB" string_bench BM_StringReplaceAllExact \
    "$TEXT local r = text:gsub('ipsum', 'IPSUM!')"
compare "string replace-all 1 MB ignoring case" string_bench BM_StringReplaceAllIgnoringCase \
    "$TEXT local r = text:gsub('ipsum', 'IPSUM!')"

# Numbers: 1,000,000 Fixed multiplications, each product feeding the next, and 1,000,000
# Math: sine calls over a rising argument; Lua does the same on its doubles.
compare "fixed multiply 1M" numeric_bench BM_FixedMultiply \
    "local v = 1.0 for i = 1, 1000000 do v = v * 1.000001 end"
compare "math sine 1M" numeric_bench BM_MathSine \
    "local x, s, sin = 0.0, 0.0, math.sin for i = 1, 1000000 do s = s + sin(x) x = x + 0.000001 end"
