#!/bin/sh
# A longer fuzzing run of the INI file layer and the database load (default 10 minutes).
# Usage: bench/bench_keys_fuzz.sh [SECONDS] [BUILD_DIR]
# Builds with clang into BUILD_DIR (default build-fuzz beside the sources) if needed.
set -eu
seconds=${1:-600}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$src/build-fuzz}
if [ ! -x "$build/bin/vx_profile_fuzz" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DVX_FUZZ=ON -DVX_BUILD_GUI=OFF -DVX_BUILD_BENCH=OFF
    cmake --build "$build" --target vx_profile_fuzz -j2
fi
corpus="$build/tests/fuzz/profile_corpus"
mkdir -p "$corpus"
exec "$build/bin/vx_profile_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=1024 -print_final_stats=1 "$corpus" "$src/tests/fuzz/fuzz_profile_seeds"
