#!/usr/bin/env bash
# Runs one fuzz target of a ZENTU_FUZZ build for SECONDS seconds with its dictionary, on its
# corpus (BUILD/fuzz/corpus/TARGET, which keeps what the runs find), its seeds and the saved
# findings in tests/regressions/TARGET. A finding is written to BUILD/fuzz/findings/TARGET/ and
# fails the run. More arguments go to libFuzzer.
# Usage: fuzz/run.sh BUILD TARGET SECONDS [LIBFUZZER-OPTION...]
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 BUILD TARGET SECONDS [LIBFUZZER-OPTION...]" >&2; exit 2; }
build=$(cd "$1" && pwd); target=$2; seconds=$3; shift 3
root=$(cd "$(dirname "$0")/.." && pwd)
fuzz=$build/fuzz

# An image may write all over its 4 GiB arena within its budget: that is the machine's memory
# working as meant, so the image target may hold that much besides its own.
rss_limit=2048
case $target in
image) dictionary=image.dict; seeds=image; rss_limit=6144 ;;
dis) dictionary=image.dict; seeds=image ;;
asm) dictionary=asm.dict; seeds=asm ;;
events) dictionary=events.dict; seeds=events ;;
bitmap) dictionary=bitmap.dict; seeds=bitmap ;;
files) dictionary=files.dict; seeds=files ;;
*) echo "$0: unknown target '$target' (image, dis, asm, events, bitmap, files)" >&2; exit 2 ;;
esac
[ -x "$fuzz/fuzz-$target" ] || { echo "$0: $fuzz/fuzz-$target is not built" >&2; exit 2; }

corpus=$fuzz/corpus/$target
findings=$fuzz/findings/$target
mkdir -p "$corpus" "$findings"
inputs=("$corpus" "$fuzz/seeds/$seeds")
[ -d "$root/tests/regressions/$target" ] && inputs+=("$root/tests/regressions/$target")

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# -timeout: no input may take this long; every target bounds its work far below it.
exec "$fuzz/fuzz-$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=$rss_limit \
    -dict="$fuzz/$dictionary" -artifact_prefix="$findings/" -print_final_stats=1 \
    "$@" "${inputs[@]}"
