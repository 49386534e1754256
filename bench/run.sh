#!/usr/bin/env bash
# Measures unprc, mkprc and prccat: whole runs on a 1 MiB input, on disk against dd
# conv=fsync and on a RAM-backed folder against cp, and prccat to /dev/null against cat of
# the plain payload; unprc in pairs with swap_floor, the least a durable swap does, on
# disk and on the RAM-backed folder; then each kernel this processor runs, both ways,
# against memcpy.
# Usage: bench/run.sh [ROUNDS]. BENCH_DIR picks the disk folder (default build-bench),
# BENCH_RAM_DIR the RAM-backed one (default /dev/shm).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-300}
cmake -B build-bench -DCMAKE_BUILD_TYPE=Release -DUNPRC_BENCH=ON >/dev/null
cmake --build build-bench --parallel 2 >/dev/null
root=$PWD
tool=$root/build-bench/cli/unprc
floor=$root/build-bench/bench/swap_floor

echo "== processor: $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
  "$(grep -m1 '^flags' /proc/cpuinfo | grep -ow 'sse2\|avx2\|avx512f\|avx512bw' | sort -u | xargs)"

work=$(mktemp -d bench-XXXXXX --tmpdir="${BENCH_DIR:-$root/build-bench}")
ram=${BENCH_RAM_DIR:-/dev/shm}
ram_work=
trap 'rm -rf "$work" ${ram_work:+"$ram_work"}' EXIT
head -c 1048572 /dev/urandom >"$work/plain"
build-bench/cli/mkprc "$work/plain" "$work/master.PRC"
mkdir "$work/run"

# Runs the alternating rounds in folder $1 and drops the lines matching $2.
whole_runs() {
  UNPRC=$tool MKPRC=$root/build-bench/cli/mkprc PRCCAT=$root/build-bench/cli/prccat \
    build-bench/bench/whole_run "$rounds" "$1" "$work/master.PRC" "$work/plain" | grep -Ev "$2"
}

# unprc and swap_floor in alternating pairs in folder $1, each on a fresh copy of the input.
floor_pairs() {
  UNPRC=$tool FLOOR=$floor build-bench/bench/whole_run --floor "$rounds" "$1" "$work/master.PRC"
}

echo "== whole runs on disk ($(stat -f -c %T "$work")): the floor is dd conv=fsync"
whole_runs "$work/run" 'unprc / cp'
# Peak resident size as GNU time reports it (%M, KiB): the median of 21 runs each.
peak() { for _ in $(seq 21); do "$@"; done 2>&1 >/dev/null | sort -n | sed -n 11p; }
cd "$work/run"
fresh() { echo "cp ../master.PRC in.PRC && rm -f in.PRC.BAK && /usr/bin/time -f %M $1 in.PRC"; }
echo "  peak RSS (GNU time %M, median of 21): unprc $(peak sh -c "$(fresh "$tool")") KiB," \
  "swap_floor $(peak sh -c "$(fresh "$floor")") KiB," \
  "dd $(peak /usr/bin/time -f %M dd if=../master.PRC of=out bs=1M conv=fsync status=none) KiB"
echo "  peak RSS (GNU time %M, median of 21), to /dev/null:" \
  "prccat $(peak /usr/bin/time -f %M "$root/build-bench/cli/prccat" ../master.PRC) KiB," \
  "cat $(peak /usr/bin/time -f %M cat ../plain) KiB"
cd "$root"
echo "== unprc against swap_floor on disk, in pairs"
floor_pairs "$work/run"

# Where nothing waits on a disk the sync costs nothing and the tool's own work shows.
if [ -d "$ram" ] && [ -w "$ram" ] && [[ "$(stat -f -c %T "$ram")" =~ ^(tmpfs|ramfs)$ ]]; then
  ram_work=$(mktemp -d bench-XXXXXX --tmpdir="$ram")
  echo "== whole runs on a RAM-backed folder ($(stat -f -c %T "$ram") at $ram): the floor is cp"
  whole_runs "$ram_work" 'unprc / dd|mkprc|dd plain'
  echo "== unprc against swap_floor on the RAM-backed folder, in pairs"
  floor_pairs "$ram_work"
else
  echo "== whole runs on a RAM-backed folder: skipped, $ram is not a writable tmpfs (set BENCH_RAM_DIR)"
fi

echo "== kernels: the payload of a full 1 MiB work buffer (medians of 20, interleaved)"
build-bench/bench/descramble_bench --benchmark_repetitions=20 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 --benchmark_format=json 2>/dev/null |
  python3 -c '
import json, sys
report = json.load(sys.stdin)
context = report["context"]
for name in context["kernel sets this processor lacks"].split():
    print("  kernel %s: not measured, this processor lacks it" % name)
print("  kernel the tool uses here: %s" % context["kernel set the tool uses here"])
# GiB/s of each benchmark, from the medians of the repetitions; the kernel runs are named
# BM_Descramble/N and BM_Scramble/N, N the index of their set, and labelled with its name.
medians = []
for b in report["benchmarks"]:
    if b.get("aggregate_name") == "median":
        benchmark, _, index = b["run_name"].partition("/")
        medians.append((benchmark, int(index or 0), b.get("label", ""), b["bytes_per_second"] / 2**30))
medians.sort()
memcpy = next(r for benchmark, _, _, r in medians if benchmark == "BM_Memcpy")
print("  %-20s %6.1f GiB/s" % ("memcpy", memcpy))
for way in ("Descramble", "Scramble"):
    for benchmark, _, name, r in medians:
        if benchmark == "BM_" + way:
            print("  %-20s %6.1f GiB/s, / memcpy %.2f" % (way.lower() + "/" + name, r, r / memcpy))
'
