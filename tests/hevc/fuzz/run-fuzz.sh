#!/usr/bin/env bash
# Runs the libFuzzer binary of the fuzz build (-DHEVC_FUZZ=ON, build-fuzz/).
#   run-fuzz.sh BINARY replay DIR
#   run-fuzz.sh BINARY fuzz SEEDS WORKDIR SECONDS
set -euo pipefail
bin=$1 mode=$2
if [ ! -x "$bin" ]; then
  echo "run-fuzz.sh: no fuzz binary at $bin; build target h265d_fuzz in a build configured with -DHEVC_FUZZ=ON" >&2
  exit 1
fi
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
case $mode in
  replay)
    # Every kept input once; libFuzzer runs the files given and exits.
    mapfile -t inputs < <(find "$3" -type f ! -name '.*' | sort)
    exec "$bin" -timeout=20 "${inputs[@]}"
    ;;
  fuzz)
    seeds=$3 work=$4 secs=$5
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    # New inputs go to the work folder; the seeds stay as the corpus script made them.
    # Seeds are cut to 8 KB (parameter sets and the first pictures): libFuzzer
    # runs every seed once before it looks at the clock.
    "$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
    ;;
  *)
    echo "run-fuzz.sh: unknown mode $mode" >&2
    exit 2
    ;;
esac
