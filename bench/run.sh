#!/usr/bin/env bash
# Measures unprc and mkprc: whole runs on a 1 MiB input against dd conv=fsync and cp,
# then the descrambling and scrambling kernels against memcpy. Usage: bench/run.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-300}
cmake -B build-bench -DCMAKE_BUILD_TYPE=Release -DUNPRC_BENCH=ON >/dev/null
cmake --build build-bench --parallel >/dev/null

work=$(mktemp -d bench-XXXXXX --tmpdir="${BENCH_DIR:-$PWD/build-bench}")
trap 'rm -rf "$work"' EXIT
head -c 1048572 /dev/urandom >"$work/plain"
build-bench/cli/mkprc "$work/plain" "$work/master.PRC"
mkdir "$work/run"

echo "== whole runs"
UNPRC=$PWD/build-bench/cli/unprc MKPRC=$PWD/build-bench/cli/mkprc \
  build-bench/bench/whole_run "$rounds" "$work/run" "$work/master.PRC" "$work/plain"
# Peak resident size as GNU time reports it (%M, KiB): the median of 21 runs each.
peak() { for _ in $(seq 21); do "$@"; done 2>&1 >/dev/null | sort -n | sed -n 11p; }
cd "$work/run"
tool=$OLDPWD/build-bench/cli/unprc
echo "  peak RSS (GNU time %M, median of 21): unprc $(peak sh -c "cp ../master.PRC in.PRC && rm -f in.PRC.BAK && /usr/bin/time -f %M $tool in.PRC") KiB," \
  "dd $(peak /usr/bin/time -f %M dd if=../master.PRC of=out bs=1M conv=fsync status=none) KiB"
cd "$OLDPWD"

echo "== (de)scrambling kernels: the full 1 MiB work buffer (medians of 20, interleaved)"
build-bench/bench/descramble_bench --benchmark_repetitions=20 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 2>/dev/null |
  awk '/_median/ { for (i = 1; i <= NF; i++) if ($i ~ /^bytes_per_second=/) { split($i, v, "=");
         rate[$1] = v[2]; print "  " $1, v[2] } }
       END { printf "  descramble / memcpy: %.2f\n", rate["BM_Descramble_median"] / rate["BM_Memcpy_median"]
             printf "  scramble / memcpy: %.2f\n", rate["BM_Scramble_median"] / rate["BM_Memcpy_median"] }'
