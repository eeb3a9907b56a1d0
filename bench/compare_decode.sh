#!/bin/bash
# Times the decoding layer (bench_decode) and the ffmpeg command line on the same MP3 and WMA files and
# prints how long each takes and the ratio layer/ffmpeg (below 1: the layer is faster). ffmpeg's time
# includes starting the process; the "net" columns take off the time ffmpeg needs for the first
# millisecond of the same file, which is mostly that start-up.
# Usage: bench/compare_decode.sh [path/to/bench_decode] [runs]
set -euo pipefail

bench=${1:-./bench_decode}
runs=${2:-5}
export WAVESTITCH_BENCH_DIR=${WAVESTITCH_BENCH_DIR:-/tmp/wavestitch-bench}

# bench_decode makes the input files on its first run; its medians are taken in milliseconds.
csv=$("$bench" --benchmark_filter='BM_Decode' --benchmark_repetitions="$runs" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null)
layer_ms() { echo "$csv" | awk -F, -v n="\"BM_Decode$1/real_time_median\"" '$1 == n { print $3 }'; }

# ffmpeg's time includes starting the process, as a user running it would see; median of the runs.
ffmpeg_ms() {
    local i start end
    for ((i = 0; i < runs; i++)); do
        start=$(date +%s%N)
        ffmpeg -v error "$@" -f s16le -y /dev/null
        end=$(date +%s%N)
        echo $(((end - start) / 1000))
    done | sort -n | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] / 1000 }'
}

printf '%-5s %10s %10s %7s %10s %9s\n' format layer_ms ffmpeg_ms ratio ffmpeg_net ratio_net
for kind in Mp3 Wma; do
    ext=$(echo "$kind" | tr 'A-Z' 'a-z')
    file="$WAVESTITCH_BENCH_DIR/tone60.$ext"
    [[ -f $file ]] || { echo "missing $file" >&2; exit 1; }
    layer=$(layer_ms "$kind")
    peer=$(ffmpeg_ms -i "$file")
    start=$(ffmpeg_ms -i "$file" -t 0.001)
    awk -v k="$kind" -v a="$layer" -v b="$peer" -v s="$start" 'BEGIN {
        printf "%-5s %10.2f %10.2f %7.2f %10.2f %9.2f\n", k, a, b, a / b, b - s, a / (b - s) }'
done
