#!/usr/bin/env bash
# Builds Qt 6.4.2 for Windows (x86_64, MinGW-w64, shared, release) and a
# static SQLite from Debian 12's own source packages into /opt/fatotal-win64,
# the same as the archive scripts/test-windows.sh unpacks when it has it.
# About 15 minutes on two idle cores. FATOTAL_QT_WORK=<folder> keeps the
# sources and the build (default: a temporary folder, removed at the end);
# FATOTAL_QT_CONFIGURE_ONLY=1 stops after Qt's configure step;
# FATOTAL_WIN_ROOT=<folder> installs elsewhere (a trial: the project builds
# with /opt/fatotal-win64).
set -euo pipefail
root=${FATOTAL_WIN_ROOT:-/opt/fatotal-win64}
qt_version=6.4.2+dfsg-10

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# 1. Compilers with POSIX threads (std::thread needs them), Wine and the Qt
#    host tools that a cross build of Qt runs.
$sudo apt-get update -qq
$sudo apt-get install -y -qq g++-mingw-w64-x86-64 mingw-w64-tools wine64 cmake ninja-build \
    tclsh qt6-base-dev qt6-base-dev-tools pkg-config dpkg-dev xz-utils > /dev/null
for tool in gcc g++; do
    $sudo update-alternatives --set "x86_64-w64-mingw32-$tool" "/usr/bin/x86_64-w64-mingw32-$tool-posix"
done

# 2. Debian's sources: a deb-src entry beside the deb one of bookworm main.
if ! apt-get source --print-uris -qq sqlite3 > /dev/null 2>&1; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/debian.sources |
            sed 's/^Types: deb$/Types: deb-src/' |
            $sudo tee /etc/apt/sources.list.d/fatotal-src.sources > /dev/null
    else
        grep -E '^deb .* bookworm main' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            $sudo tee /etc/apt/sources.list.d/fatotal-src.list > /dev/null
    fi
    $sudo apt-get update -qq
fi

work=${FATOTAL_QT_WORK:-}
if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
cd "$work"
[ -d qt6-base-*/ ] || apt-get source -qq "qt6-base=$qt_version" > /dev/null
[ -d sqlite3-*/ ] || apt-get source -qq sqlite3 > /dev/null
qtsrc=$(ls -d "$work"/qt6-base-*/)
sqlitesrc=$(ls -d "$work"/sqlite3-*/)

# 3. Debian drops Qt's bundled SQLite: make the amalgamation from SQLite's
#    own source, for Qt's driver and, compiled alone, for the static library.
if [ ! -f "$sqlitesrc/sqlite3.c" ]; then
    (cd "$sqlitesrc" && ./configure --disable-tcl > /dev/null && make -s sqlite3.c > /dev/null)
fi
mkdir -p "$qtsrc/src/3rdparty/sqlite"
cp "$sqlitesrc/sqlite3.c" "$sqlitesrc/sqlite3.h" "$qtsrc/src/3rdparty/sqlite/"

$sudo mkdir -p "$root/sqlite/lib/pkgconfig" "$root/sqlite/include"
sqlite_version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$sqlitesrc/sqlite3.h")
x86_64-w64-mingw32-gcc -O2 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS5 \
    -c "$sqlitesrc/sqlite3.c" -o "$work/sqlite3.o"
x86_64-w64-mingw32-ar rcs "$work/libsqlite3.a" "$work/sqlite3.o"
$sudo cp "$work/libsqlite3.a" "$root/sqlite/lib/"
$sudo cp "$sqlitesrc/sqlite3.h" "$sqlitesrc/sqlite3ext.h" "$root/sqlite/include/"
$sudo tee "$root/sqlite/lib/pkgconfig/sqlite3.pc" > /dev/null <<EOF
prefix=$root/sqlite
Name: SQLite
Description: SQLite $sqlite_version (static, x86_64-w64-mingw32)
Version: $sqlite_version
Libs: -L\${prefix}/lib -lsqlite3
Cflags: -I\${prefix}/include
EOF

# The toolchain file that Qt records and the project builds with.
$sudo tee "$root/toolchain-mingw64.cmake" > /dev/null <<EOF
# Cross toolchain: Debian bookworm MinGW-w64 (posix threads) -> x86_64 Windows
# Used by the Qt 6.4.2 build in $root/qt6 (recorded in its qt.toolchain.cmake): keep this path.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   \${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER \${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  \${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/\${TOOLCHAIN_PREFIX} $root/sqlite $root/qt6 \${MINGW_EXTRA_ROOTS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
EOF

# 4. Without Direct2D the qwindows plugin does not link: the DirectWrite font
#    database it then names is built only with Direct2D.
sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$qtsrc/src/plugins/platforms/windows/qwindowsintegration.cpp"
[ "$(grep -c '^#if QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)$' \
    "$qtsrc/src/plugins/platforms/windows/qwindowsintegration.cpp")" -eq 2 ] ||
    { echo "the DirectWrite lines of qwindowsintegration.cpp are not where they were"; exit 1; }

# 5. Configure, build, install. No tablet support: Debian's source drops wintab.
mkdir -p "$work/build"
cd "$work/build"
"$qtsrc/configure" -prefix "$root/qt6" -xplatform win32-g++ \
    -device-option CROSS_COMPILE=x86_64-w64-mingw32- -qt-host-path /usr -release -shared \
    -nomake examples -nomake tests -nomake benchmarks \
    -no-opengl -no-dbus -no-feature-vulkan -no-feature-network -no-feature-xml \
    -no-feature-concurrent -no-feature-printsupport -no-feature-tabletevent \
    -no-feature-direct2d -no-feature-androiddeployqt \
    -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre \
    -sql-sqlite -qt-sqlite -sql-odbc -no-sql-mysql -no-sql-psql -no-sql-db2 -no-sql-ibase -no-sql-oci \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/toolchain-mingw64.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake > "$work/configure.log"
if [ -n "${FATOTAL_QT_CONFIGURE_ONLY:-}" ]; then
    echo "Configured in $work/build (see $work/configure.log)"
    exit 0
fi
cmake --build . --parallel 2
$sudo cmake --install . > /dev/null
echo "Qt for Windows is in $root/qt6"
