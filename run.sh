#!/usr/bin/env bash
# Installs what is missing, builds, and starts the service on the software TSE
# in the demo folder ./demo (program directory with its job directory TSE).
#
#   ./demo/Vok_TSE.INI      configuration: the TSE is drive E:\
#   ./demo/drives/e         drive E: (the software TSE; "TSE-IO.bin" marks it)
#   ./demo/TSE              job directory: clients drop their *.TSE jobs here
#   ./demo/Vok_TSE.LOG      program log
#
# Arguments are handed on to the program (e.g. /L for the technical data in
# the log at every start). Stop the service by closing its window, or with
# Ctrl-C when it runs without a display (then with no window at all).
set -euo pipefail
cd "$(dirname "$0")"

# Without a display the service runs headless (--unattended): a console
# program with no window and no window system.
headless=false
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  headless=true
fi
root=$PWD
build_dir=${BUILD_DIR:-build}
[[ $build_dir = /* ]] || build_dir=$root/$build_dir

# The build's own output goes to a file; the terminal gets one line that
# counts up.
mkdir -p "$build_dir"
build_log=$build_dir/run-build.log
echo "Building (full output in $build_log) ..."
set +e
scripts/setup.sh 2>&1 | tee "$build_log" | while IFS= read -r line; do
  [[ $line =~ ^\[\ *([0-9]+)%\] ]] && printf '\r  %3s%% built' "${BASH_REMATCH[1]}"
done
built=${PIPESTATUS[0]}
set -e
if ((built != 0)); then
  printf '\nBuild failed; the end of %s:\n' "$build_log" >&2
  tail -n 25 "$build_log" >&2
  exit "$built"
fi
printf '\r  100%% built\n'

program=$build_dir/bin/vok_tse
demo=$root/demo
drive=$demo/drives/e

# Drive letters are directories under VOK_TSE_DRIVES; the software TSE keeps
# its state inside the drive, so the TSE survives from one run to the next.
export VOK_TSE_DRIVES=$demo/drives
mkdir -p "$drive"
[[ -e $drive/TSE-IO.bin ]] || : >"$drive/TSE-IO.bin"

# Written only once: the program itself updates the last exported number.
if [[ ! -e $demo/Vok_TSE.INI ]]; then
  printf '[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\n' >"$demo/Vok_TSE.INI"
fi

# The HTTP door, switched on for the demo on a loopback port nobody uses;
# kept from one run to the next.
free_port() {
  local p
  for p in $(seq 18080 18179); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      echo "$p"
      return
    fi
  done
}
if ! grep -q '^HTTP_PORT=' "$demo/Vok_TSE.INI"; then
  printf 'HTTP_PORT=%s\r\n' "$(free_port)" >>"$demo/Vok_TSE.INI"
fi
http_port=$(sed -n 's/^HTTP_PORT=\([0-9]*\).*/\1/p' "$demo/Vok_TSE.INI")

args=("$@")
if $headless; then
  echo "No display found: the service runs without a window (--unattended)."
  echo "Follow the service in its log; stop it with Ctrl-C."
  # Nobody can answer a dialog: every dialog takes its default answer and is
  # written to the log.
  args+=(--unattended)
fi

echo "Program directory: $demo"
echo "Clients drop their jobs (*.TSE) into: $demo/TSE"
echo "Answers (*.SIG) appear there too; exports go to: $demo/TSE_EXPO"
echo "Program log: $demo/Vok_TSE.LOG"
if [[ -n $http_port && $http_port != 0 ]]; then
  echo "HTTP door on 127.0.0.1:$http_port (token in $demo/Vok_TSE.token, made at the first start). Sign a receipt:"
  echo "  curl -s -X PUT -H \"Authorization: Bearer \$(cat $demo/Vok_TSE.token)\" -H 'Content-Type: application/json' \\"
  echo "       -d '{\"kasid\":\"Kasse01\",\"bonid\":\"1\",\"sigtext\":\"Beleg^1.00\"}' http://127.0.0.1:$http_port/v1/receipts/demo-1"
fi
echo "The service runs in this terminal as process $$ ($program)."
echo "Stop it by closing its window, with Ctrl-C here, or with: kill $$"

cd "$demo"
exec "$program" "${args[@]}"
