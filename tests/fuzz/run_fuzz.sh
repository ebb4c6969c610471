#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it over the committed corpus for a fixed
# number of inputs. Longer by hand: run_fuzz.sh SOURCE_DIR BUILD_DIR RUNS (e.g. 10000000).
set -euo pipefail
src=$1 out=$2 runs=${3:-20000}
command -v clang++ >/dev/null || { echo "clang++ not installed: fuzz run skipped"; exit 77; }
mkdir -p "$out/corpus"
cp -n "$src/tests/fuzz/corpus/"* "$out/corpus/"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$src/src" "$src/tests/fuzz/parse_fuzz.cpp" "$src/src/process/process_snapshot.cpp" \
    "$src/src/platform/posix/proc_text.cpp" "$src/src/platform/posix/command_line.cpp" \
    -o "$out/parse_fuzz"
"$out/parse_fuzz" -runs="$runs" -seed=1 -max_len=512 "$out/corpus"
