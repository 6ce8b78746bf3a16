#!/usr/bin/env bash
# Rates the unit's hardening with systemd-analyze, which needs no running
# systemd with --offline=true, and fails above the highest exposure allowed.
# Usage: unit_security.sh UNIT MAX_EXPOSURE
set -euo pipefail
unit=$1
max=$2

out=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) || {
  echo "$out" >&2
  echo "systemd-analyze failed on $unit" >&2
  exit 1
}
score=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$out")
if [[ -z $score ]]; then
  echo "$out" >&2
  echo "no overall exposure level in the output" >&2
  exit 1
fi
echo "exposure $score (at most $max)"
if ! awk -v s="$score" -v m="$max" 'BEGIN { exit !(s <= m) }'; then
  grep '✗' <<<"$out" >&2 || true
  exit 1
fi
