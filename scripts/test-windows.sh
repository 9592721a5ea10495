#!/usr/bin/env bash
# The Windows version, made and tried on Debian 12: cross-builds everything
# with MinGW-w64 into build-win/, packs build-win/fatotal-<version>-win64.zip,
# runs the package from an empty folder under Wine, then every test program
# under Wine without a display. Ends with CTest's summary; fails when a test
# fails.
#
# Qt for Windows comes from fatotal-win64-qt6.4.2.tar.xz (in ../shared/windows
# beside the repository, or FATOTAL_WIN_ARCHIVE=<path of the archive>, with
# SHA256SUMS beside it) when its checksum holds, else scripts/build-windows-qt.sh
# builds it from Debian's sources (about half an hour on two cores).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=$repo/build-win
qt_root=/opt/fatotal-win64

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# What building for Linux needs (the Qt host tools among it, and FreeTDS
# registered with unixODBC, which Wine's ODBC hands its calls to), then the
# cross compilers, Wine, a CJK font and Qt's translations.
scripts/deps.sh
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 xz-utils
          fonts-wqy-microhei qt6-translations-l10n locales)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" > /dev/null
fi

# Wine takes the code page of Windows from the locale and names files in the
# locale's encoding: a Chinese locale with UTF-8.
locale -a 2> /dev/null | grep -qi '^zh_CN\.utf-\?8$' || $sudo localedef -i zh_CN -c -f UTF-8 zh_CN.UTF-8

# Qt for Windows: the archive when it is the one SHA256SUMS names, else a
# build from source. A stamp records which archive was unpacked.
archive=${FATOTAL_WIN_ARCHIVE:-$(dirname "$repo")/shared/windows/fatotal-win64-qt6.4.2.tar.xz}
stamp=$qt_root/.archive-sha256
if [ -f "$archive" ] && [ -f "$(dirname "$archive")/SHA256SUMS" ] &&
   (cd "$(dirname "$archive")" && grep -F " $(basename "$archive")" SHA256SUMS | sha256sum -c --quiet -); then
    sum=$(sha256sum "$archive" | cut -d' ' -f1)
    if [ "$(cat "$stamp" 2>/dev/null)" != "$sum" ]; then
        echo "Unpacking $archive"
        $sudo tar -xJf "$archive" -C /
        echo "$sum" | $sudo tee "$stamp" > /dev/null
    fi
elif [ ! -x "$qt_root/qt6/bin/qt-cmake" ]; then
    echo "No usable archive of Qt for Windows ($archive): building it from source"
    scripts/build-windows-qt.sh
fi
# Qt's Chinese words where the test programs' Qt looks for them; .qm files
# are the same on every system.
if [ ! -f "$qt_root/qt6/translations/qtbase_zh_CN.qm" ]; then
    $sudo mkdir -p "$qt_root/qt6/translations"
    $sudo cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$qt_root/qt6/translations/"
fi

# The window, both commands and every test program.
PKG_CONFIG_LIBDIR=$qt_root/sqlite/lib/pkgconfig \
    "$qt_root/qt6/bin/qt-cmake" -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DFATOTAL_WERROR=ON ${FATOTAL_CMAKE_ARGS:-} > /dev/null
cmake --build "$build" -j2
(cd "$build" && cpack -G ZIP > /dev/null)
zip=$(ls "$build"/fatotal-*-win64.zip)

# A Wine prefix of the build's own, without a display: the null driver for
# the window system, Qt's offscreen platform for the tests. Wine hands a
# Windows program no QT_* variable but turns WINEQT_* into QT_*. Programs run
# in a Chinese Windows (code page 936), as the tool's users have.
export WINEPREFIX=$build/wine WINEARCH=win64 WINEDEBUG=-all
chinese=(env LC_ALL=zh_CN.UTF-8)
# A program of the package that waits for something (a message box nobody
# can click) must not hold up the run.
run=(timeout 300 env LC_ALL=zh_CN.UTF-8 wine)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i > /dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null 2>&1
    wineserver -w
fi
# Wine's background services start with the first program and would keep
# the output pipe of whatever started them open: start them here, end them
# at the end.
wineserver -p 2> /dev/null || true  # one may be running already, from an earlier run
trap 'wineserver -k 2> /dev/null || true' EXIT
wine cmd /c exit 2> /dev/null

# The package on its own: unpacked into an empty folder, with nothing of the
# build or of Qt on the search path.
check=$(mktemp -d)
cmake -E chdir "$check" cmake -E tar xf "$zip"
package=$(ls -d "$check"/fatotal-*-win64)
(
    cd "$package"
    unset WINEPATH
    help=$("${run[@]}" fatotal-rebuild.exe --help 2>&1) &&
        [[ $help == *--system* ]] ||
        { echo "$help"; echo "fatotal-rebuild.exe --help failed in the package"; exit 1; }
    "${run[@]}" fatotal-demo.exe --out demo 2> /dev/null
    "${run[@]}" fatotal-rebuild.exe --system 'demo\kvsystem\kvsystem.mdb' \
        --account 001 --year 2026 2> rebuild.log ||
        { cat rebuild.log; echo "the rebuild of the demo data failed in the package"; exit 1; }
)
rm -rf "$check"
echo "Package checked: $zip"

export WINEPATH="$qt_root/qt6/bin;$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)");/usr/x86_64-w64-mingw32/lib"
export WINEQT_QPA_PLATFORM=offscreen WINEQT_FORCE_STDERR_LOGGING=1
WINEQT_QPA_FONTDIR=$(winepath -w /usr/share/fonts/truetype/wqy 2> /dev/null)
export WINEQT_QPA_FONTDIR
# The Windows build asks for the driver "SQL Server", which the host's
# unixODBC (where Wine's ODBC sends every call) lacks: for the tests, FreeTDS
# answers to that name too, so SQL Server mode reaches tds-standin, talking
# the protocol and encoding that the Linux build names in its connection
# string. The system's own ODBC and FreeTDS settings stay as they are.
odbc=$build/odbc
mkdir -p "$odbc"
freetds=$(odbcinst -q -d -n FreeTDS | grep -E '^(Driver|Setup)=')
printf '[FreeTDS]\n%s\n\n[SQL Server]\n%s\n' "$freetds" "$freetds" > "$odbc/odbcinst.ini"
printf '[global]\n\ttds version = 7.4\n\tclient charset = UTF-8\n' > "$odbc/freetds.conf"
export ODBCSYSINI=$odbc FREETDSCONF=$odbc/freetds.conf FATOTAL_WINE_SQLSERVER_DRIVER=1
"${chinese[@]}" ctest --test-dir "$build" --output-on-failure -j2
