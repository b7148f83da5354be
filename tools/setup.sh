#!/usr/bin/env bash
# Installs what building, running and testing Quernfold needs, from Debian's packages only.
# Safe to run again: it installs only what is missing. Arguments name more packages that one job needs on top
# (the fuzzing compiler, the accessibility bus for the window benchmark).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-qpa-plugins
    fonts-wqy-microhei
    xvfb xauth xdg-utils
    libc-bin apache2-utils
    libcurl4-openssl-dev ca-certificates
    libsqlite3-dev libqt6sql6-sqlite
    libxlsxwriter-dev python3-openpyxl
    libidn2-dev libpsl-dev publicsuffix
    dpkg-dev file librsvg2-bin desktop-file-utils appstream
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
        exit 1
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
