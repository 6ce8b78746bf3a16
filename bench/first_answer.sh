#!/usr/bin/env bash
# Start to first answer: the unattended service is started on a software TSE
# that an earlier run has set up (as after a crash), with one BON job already
# waiting; prints the milliseconds from the start of the process to the
# job's complete answer. Figures only.
#   bench/first_answer.sh [runs]   (BUILD_DIR=build by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
runs=${1:-5}
work=$(mktemp -d)
trap 'pkill -f "$work/prog/vok_tse" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/drives/e"
: >"$work/drives/e/TSE-IO.bin"
printf '[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\n' >"$work/prog/Vok_TSE.INI"
cp "$build/bin/vok_tse" "$build/bin/libse-api-c.so" "$work/prog/"
export VOK_TSE_DRIVES=$work/drives
(cd "$work/prog" && exec env -u QT_QPA_PLATFORM -u DISPLAY ./vok_tse --unattended >/dev/null 2>&1) &
pid=$!
# The first run sets the new TSE up; it is not measured.
for _ in $(seq 100); do [[ -e $work/prog/TSE ]] && grep -q "Anz. Trans" "$work/prog/Vok_TSE.LOG" 2>/dev/null && break; sleep 0.1; done
kill -KILL $pid; wait $pid 2>/dev/null || true
for run in $(seq "$runs"); do
  printf 'CMD=BON\r\nKASID=K1\r\nBONID=%s\r\nSIGTEXT=Beleg\r\n*EOF*\r\n' "$run" >"$work/prog/TSE/R$run.TSE"
  start=$(date +%s%N)
  (cd "$work/prog" && exec env -u QT_QPA_PLATFORM -u DISPLAY ./vok_tse --unattended >/dev/null 2>&1) &
  pid=$!
  until [[ -f $work/prog/TSE/R$run.SIG ]] && tail -c 7 "$work/prog/TSE/R$run.SIG" | grep -q '\*EOF\*'; do sleep 0.005; done
  end=$(date +%s%N)
  echo "run $run: first answer after $(((end - start) / 1000000)) ms"
  kill -KILL $pid; wait $pid 2>/dev/null || true
done
