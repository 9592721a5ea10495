#!/usr/bin/env bash
# Installs what building, running and testing fatotal need on Debian 12,
# and the packages named as arguments.
# Uses sudo unless already root; does nothing when everything is there.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev odbcinst
          libsqlite3-dev sqlite3 unixodbc-dev tdsodbc fonts-wqy-microhei
          qt6-translations-l10n "$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# SQL Server mode reaches FreeTDS by its ODBC driver name.
if ! odbcinst -q -d -n FreeTDS > /dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini
fi
