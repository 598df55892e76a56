#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Skips apt-get entirely when every package is already present. With --fuzz, also
# what scripts/fuzz builds with: clang and its libFuzzer and sanitizer runtimes; with
# --package, what scripts/package and scripts/package-check make and check the
# Debian package with.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config clang-format ccache
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  libgl-dev libvulkan-dev
  libsqlite3-dev sqlite3 libssl-dev
  libplist-dev libplist-utils libimobiledevice-dev libimobiledevice-utils usbmuxd
  xvfb xauth fonts-dejavu-core fonts-noto-color-emoji unicode-data
  poppler-utils chromium
)
for option in "$@"; do
  case $option in
    --fuzz) PACKAGES+=(clang libclang-rt-14-dev) ;;
    --package) PACKAGES+=(dpkg-dev help2man librsvg2-bin desktop-file-utils appstream lintian) ;;
    *) echo "Unknown option $option (--fuzz, --package)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
  else
    echo "These Debian packages are missing and this user cannot install them:" >&2
    echo "  ${missing[*]}" >&2
    echo "Run as root:  apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
