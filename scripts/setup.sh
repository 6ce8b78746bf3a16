#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (when missing),
# then configures and builds in ./build. Sourced by run.sh and test.sh.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# libsystemd-dev: sd_notify for the unit's Type=notify and watchdog;
# systemd: systemd-analyze, with which a test rates the unit's hardening;
# libmicrohttpd-dev: the local HTTP door; curl: a stock client in its tests.
PACKAGES=(cmake g++ make pkg-config qt6-base-dev libssl-dev openssl libarchive-dev zlib1g-dev
          libgtest-dev libgmock-dev tar qt6-translations-l10n libsystemd-dev systemd
          libmicrohttpd-dev curl)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages. Install them as root with:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Window test programs need no display; CTest lists their tests by running them.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

# sanitize.sh configures its own build.
[[ -n ${SETUP_ONLY_PACKAGES:-} ]] && exit 0

BUILD_DIR=${BUILD_DIR:-build}
if [[ ! -f "$BUILD_DIR/CMakeCache.txt" ]]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" -j2
