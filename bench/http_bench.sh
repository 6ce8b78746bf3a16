#!/usr/bin/env bash
# HTTP receipts beside file jobs, one after another on the same service:
# requests per second and p50 of each way. curl's own start (a few ms) is
# in the HTTP figure as vok-tse-client's is in the file job's. Figures only.
#   bench/http_bench.sh [count]   (BUILD_DIR=build by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
n=${1:-100}
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/drives/e"
: >"$work/drives/e/TSE-IO.bin"
port=$(for p in $(seq 18280 18379); do (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; break; }; done)
printf '[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\nHTTP_PORT=%s\r\n' "$port" >"$work/prog/Vok_TSE.INI"
cp "$build/bin/vok_tse" "$build/bin/libse-api-c.so" "$work/prog/"
(cd "$work/prog" && exec env -u QT_QPA_PLATFORM VOK_TSE_DRIVES="$work/drives" ./vok_tse --unattended >/dev/null 2>&1) &
pid=$!
until curl -s -o /dev/null "http://127.0.0.1:$port/v1/health"; do sleep 0.1; done
token=$(cat "$work/prog/Vok_TSE.token")

p50() { sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]}'; }

start=$(date +%s%N)
for i in $(seq "$n"); do
  curl -s -o /dev/null -w '%{time_total}\n' -X PUT -H "Authorization: Bearer $token" \
    -H 'Content-Type: application/json' -d "{\"kasid\":\"K1\",\"bonid\":\"$i\",\"sigtext\":\"Beleg $i\"}" \
    "http://127.0.0.1:$port/v1/receipts/b$i"
done | awk '{print $1 * 1000}' >"$work/http.ms"
http_s=$(( $(date +%s%N) - start ))

start=$(date +%s%N)
for i in $(seq "$n"); do
  s=$(date +%s%N)
  "$build/bin/vok-tse-client" --dir "$work/prog/TSE" --name "F$i" bon --kasid K1 --bonid "$i" --sigtext "Datei $i" >/dev/null
  echo $(( ($(date +%s%N) - s) / 1000 ))
done | awk '{print $1 / 1000}' >"$work/file.ms"
file_s=$(( $(date +%s%N) - start ))

echo "HTTP receipts: $n in $(awk "BEGIN {printf \"%.2f\", $http_s / 1e9}") s = $(awk "BEGIN {printf \"%.1f\", $n / ($http_s / 1e9)}")/s, p50 $(p50 <"$work/http.ms") ms"
echo "file jobs:     $n in $(awk "BEGIN {printf \"%.2f\", $file_s / 1e9}") s = $(awk "BEGIN {printf \"%.1f\", $n / ($file_s / 1e9)}")/s, p50 $(p50 <"$work/file.ms") ms"
