#!/usr/bin/env bash
# Builds, then prints in one run on this machine:
#   - the software TSE's own rate (start+finish pairs per second through the
#     C interface): the limit the service can reach; measured again right
#     before and after each job figure (TSE_PAIRS pairs, default 500, on a
#     device that has signed as many pairs before as the service's TSE has
#     by then), which is set beside the mean of the two, and after the
#     service's figures;
#   - with each job figure, the time the service spent inside the TSE's calls
#     (counted by the software TSE itself) and the service's own time a job;
#   - a burst of BON jobs through the running service: throughput, p50/p95
#     latency from the rename of a job file to its complete answer, and the
#     ratio of that throughput to the TSE's own rate;
#   - single BON jobs one after another: p50/p95 latency, and how far the
#     p50 lies above the TSE's own pair time;
#   - a quiet register's jobs while another register's FLOOD jobs wait (in
#     TSE pair times);
#   - DRAIN jobs dropped at once: throughput, ratio to the TSE, memory;
#   - the service's processor time while idle, alone and beside UNCOLLECTED
#     answers that nobody collects, and its peak resident memory;
#   - vok-tse-client verify: log messages per second and peak resident memory
#     over an export of VERIFY_MESSAGES messages on brainpoolP384r1 (as our
#     TSE signs), and with VERIFY_LARGE set over a large export of that many
#     messages on NIST P-256 with 600-byte receipts (800000: about 1 GB);
#     each beside the messages per second the TSE signs (two a pair).
# The service runs unattended (no window system) in a fresh program directory on a
# fresh software-TSE drive. Figures only: nothing here passes or fails.
#
#   BUILD_DIR=build bench/run.sh    with these in the environment (defaults):
#     BURST=1000 SINGLE=100 FLOOD=500 DRAIN=10000 IDLE=30 UNCOLLECTED=10000
#     VERIFY_MESSAGES=20000 VERIFY_LARGE=0
#   A quick run: BURST=100 SINGLE=20 FLOOD=100 DRAIN=500 IDLE=5 UNCOLLECTED=1000 VERIFY_MESSAGES=1000
#   PROGRAM=<another build's bin/vok_tse> measures that program with this
#   script's driver (side by side with an earlier build).
#   TMPDIR=<dir> puts the service's folder there, default /tmp;
#   TSE_TMPDIR=<dir> puts the TSE's devices (the service's and those its own
#   rate is measured on) on another file system, as a USB TSE is: default
#   beside the service. See bench/README.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
[[ $build = /* ]] || build=$root/$build
burst=${BURST:-1000}
single=${SINGLE:-100}
flood=${FLOOD:-500}
drain=${DRAIN:-10000}
idle=${IDLE:-30}
uncollected=${UNCOLLECTED:-10000}
verify_messages=${VERIFY_MESSAGES:-20000}
verify_large=${VERIFY_LARGE:-0}

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target vok_tse_program vok-tse-client vok_tse_bench softtse_bench verify_bench >/dev/null
bin=$build/bin
program=${PROGRAM:-$bin/vok_tse}

echo "== software TSE, start+finish pairs through the C interface"
# The TSE's own rate is measured where its device is.
tse_tmp=${TSE_TMPDIR:-${TMPDIR:-/tmp}}
tse_line=$(TMPDIR=$tse_tmp "$bin/softtse_bench" 1000)
echo "$tse_line"
tse_rate=$(sed -n 's/.*: \([0-9.]*\) pairs per second.*/\1/p' <<<"$tse_line")

work=$(mktemp -d "${TMPDIR:-/tmp}/vok-bench-XXXXXX")
# The TSE's device: beside the service unless TSE_TMPDIR names another place.
tse_work=$(mktemp -d "${TSE_TMPDIR:-$work}/vok-bench-tse-XXXXXX")
pid=
cleanup() {
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work" "$tse_work"
}
trap cleanup EXIT

prog=$work/prog
mkdir -p "$prog" "$tse_work/drives/e"
: >"$tse_work/drives/e/TSE-IO.bin"
printf '[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\n' >"$prog/Vok_TSE.INI"

echo "== service: $prog"
# SOFTTSE_METER: the software TSE counts the time spent inside its calls, so
# that the driver can state the service's own share of each job.
(cd "$prog" && VOK_TSE_DRIVES=$tse_work/drives SOFTTSE_METER=$work/tse.meter \
   exec "$program" --unattended >"$work/service.out" 2>&1) &
pid=$!

# Ready when a STATUS job is answered with the TSE online (start-up includes
# the splash and the initialisation of the new TSE).
ready=
for _ in $(seq 1 60); do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "the service ended during start-up:" >&2
    cat "$work/service.out" "$prog/Vok_TSE.LOG" >&2 2>/dev/null || true
    exit 1
  fi
  if [[ -d $prog/TSE ]] &&
     "$bin/vok-tse-client" --dir "$prog/TSE" --name READY --timeout 2 status --kasid BENCH-KASSE-01 >/dev/null 2>&1; then
    ready=1
    break
  fi
  sleep 1
done
if [[ -z $ready ]]; then
  echo "the service did not answer a STATUS job within a minute" >&2
  cat "$prog/Vok_TSE.LOG" >&2 2>/dev/null || true
  exit 1
fi

echo "== service, BON jobs (burst $burst, single $single, flood $flood, drain $drain), idle ${idle} s (beside $uncollected uncollected answers)"
"$bin/vok_tse_bench" --dir "$prog/TSE" --pid "$pid" --burst "$burst" --single "$single" --flood "$flood" \
  --drain "$drain" --idle "$idle" --uncollected "$uncollected" ${tse_rate:+--tse-rate "$tse_rate"} \
  --tse-bench "TMPDIR=$tse_tmp $bin/softtse_bench ${TSE_PAIRS:-500}" --meter "$work/tse.meter"

kill -TERM "$pid"
wait "$pid" || true
pid=
# The end line "|Vok_TSE beendet" goes to the log file with its time stamp only.
tail -n 1 "$prog/Vok_TSE.LOG" | grep -q '  Vok_TSE beendet.$' && echo "service ended cleanly" ||
  echo "service did not log its end" >&2

# The TSE's rate swings with the disk and the machine's load: measured again
# after the service, so that a run whose conditions changed shows it.
echo "== software TSE again, after the service"
TMPDIR=$tse_tmp "$bin/softtse_bench" 1000

# verify: the archive is written first (not timed), then verify runs alone
# under /usr/bin/time: elapsed and processor seconds, peak resident memory.
verify_rate() {  # label, archive, messages
  local out
  out=$( { /usr/bin/time -f "%e %U %S %M" "$bin/vok-tse-client" verify "$2" >/dev/null; } 2>&1 | tail -n 1)
  read -r elapsed user sys peak <<<"$out"
  awk -v l="$1" -v n="$3" -v e="$elapsed" -v u="$user" -v s="$sys" -v p="$peak" -v size="$(stat -c %s "$2")" \
    -v tse="${tse_rate:-0}" \
    'BEGIN { printf "%s: %d log messages (%.0f MB) in %.1f s: %.0f log messages per second, %.1f s processor time, peak resident memory %.1f MB\n", l, n, size / 1e6, e, n / e, u + s, p / 1024
             if (tse > 0) printf "%s: verify checks %.1f times as many log messages a second as the TSE signs (%.0f)\n", l, n / e / (2 * tse), 2 * tse }'
}
if (( verify_messages > 0 )); then
  echo "== vok-tse-client verify, brainpoolP384r1 (the TSE above signs $tse_rate pairs per second)"
  "$bin/verify_bench" "$work/verify.tar" "$verify_messages" brainpoolP384r1
  verify_rate "brainpoolP384r1 export" "$work/verify.tar" "$verify_messages"
  rm -f "$work/verify.tar"
fi
if (( verify_large > 0 )); then
  echo "== vok-tse-client verify, large export on NIST P-256"
  "$bin/verify_bench" "$work/large.tar" "$verify_large" prime256v1 600
  verify_rate "NIST P-256 export" "$work/large.tar" "$verify_large"
  rm -f "$work/large.tar"
fi
