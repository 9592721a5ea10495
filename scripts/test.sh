#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test,
# then makes the Debian package and checks what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
FATOTAL_CMAKE_ARGS="-DFATOTAL_WERROR=ON ${FATOTAL_CMAKE_ARGS:-}" scripts/build.sh
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2

# The Debian package, from its own release build: the files an installation
# needs, without the benchmarks' SQLite extension, and the dependencies it
# declares.
scripts/package.sh
deb=$(ls build/fatotal_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for f in bin/fatotal bin/fatotal-rebuild bin/fatotal-demo share/applications/fatotal.desktop \
    share/icons/hicolor/scalable/apps/fatotal.svg share/man/man1/fatotal-rebuild.1.gz \
    share/doc/fatotal/README.md share/doc/fatotal/copyright share/doc/fatotal/changelog.gz; do
    grep -qx "\./usr/$f" <<< "$files" || { echo "$deb lacks /usr/$f"; exit 1; }
done
! grep -q sqlite_ext <<< "$files" || { echo "$deb holds the SQLite extension"; exit 1; }
entry=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/applications/fatotal.desktop)
for line in 'Name\[zh_CN\]=固定资产总帐整理' 'Exec=fatotal' 'Icon=fatotal' 'Categories=Office;Finance;'; do
    grep -qx "$line" <<< "$entry" || { echo "the menu entry lacks $line"; exit 1; }
done
dpkg-deb -I "$deb" postinst | grep -q 'odbcinst -i -d' || { echo "$deb registers no FreeTDS"; exit 1; }
for need in Depends:libqt6widgets6 Depends:libodbc2 Depends:libsqlite3-0 Depends:qt6-qpa-plugins \
    Recommends:tdsodbc \
    Recommends:fonts-wqy-microhei Recommends:qt6-translations-l10n; do
    [[ " $(dpkg-deb -f "$deb" "${need%%:*}")," == *" ${need#*:}"[\ ,]* ]] ||
        { echo "$deb: ${need%%:*} lacks ${need#*:}"; exit 1; }
done
version=$(sed -n 's/^project(fatotal VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || { echo "$deb is not version $version"; exit 1; }
echo "Package checked: $deb"
