#!/usr/bin/env bash
# Builds the Debian package build/fatotal_<version>_<arch>.deb: a release
# build in build-pkg/, then `cpack -G DEB` there. Installs what is missing
# first; dpkg-shlibdeps (dpkg-dev) and file work out the package's
# dependencies. Then: sudo apt install ./build/fatotal_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev file

# Debian's own hardening flags (stack protector, fortified functions,
# read-only relocations, immediate binding), without debug information:
# the package's programs are stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g
flag() { dpkg-buildflags --get "$1"; }
# The changelog carries the day of the last commit rather than of the build.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2> /dev/null || date +%s)
export SOURCE_DATE_EPOCH

cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_C_FLAGS="$(flag CPPFLAGS) $(flag CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flag CPPFLAGS) $(flag CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flag LDFLAGS)" > /dev/null
cmake --build build-pkg -j2
rm -f build-pkg/fatotal_*.deb
(cd build-pkg && cpack -G DEB > cpack.log) || { cat build-pkg/cpack.log; exit 1; }
mkdir -p build
rm -f build/fatotal_*.deb
mv build-pkg/fatotal_*.deb build/
echo "Package: $(ls build/fatotal_*.deb)"
