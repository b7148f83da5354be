#!/usr/bin/env bash
# Builds the Debian package of a configured build folder (default: build) and checks it as a user's system
# would see it: the file list, the control fields, the menu entry, the AppStream data, the icons, the man page,
# and that the packaged program answers --version. Any failure ends the script with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

fail() {
    echo "check_package: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || fail "no project version in $build/CMakeCache.txt"
deb="$build/quernfold_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
cmake --build "$build" -j2 --target package
[[ -f $deb ]] || fail "the package target made no $deb"

expected=(
    ./usr/bin/quernfold
    ./usr/share/applications/quernfold.desktop
    ./usr/share/icons/hicolor/128x128/apps/quernfold.png
    ./usr/share/icons/hicolor/48x48/apps/quernfold.png
    ./usr/share/icons/hicolor/scalable/apps/quernfold.svg
    ./usr/share/man/man1/quernfold.1.gz
    ./usr/share/metainfo/example.quernfold.quernfold.metainfo.xml
    ./usr/share/quernfold/skinh.she
)
# Files only (directories end in "/"); owner and mode stay in the listing so they are checked too.
listing=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print $1, $2, $6 }' | sort -k3)
actual=$(awk '{ print $3 }' <<<"$listing")
if ! diff -u <(printf '%s\n' "${expected[@]}" | sort) <(sort <<<"$actual"); then
    fail "the package's file list differs from the expected one (- expected, + packaged)"
fi
while read -r mode owner path; do
    [[ $owner == root/root ]] || fail "$path is owned by $owner"
    if [[ $path == ./usr/bin/* ]]; then
        [[ $mode == -rwxr-xr-x ]] || fail "$path has mode $mode"
    else
        [[ $mode == -rw-r--r-- ]] || fail "$path has mode $mode"
    fi
done <<<"$listing"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quernfold ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)'"
for dependency in libqt6widgets6 libcurl4 libc6 qt6-qpa-plugins libidn2-0 libpsl5 publicsuffix; do
    grep -qw -- "$dependency" <<<"$(field Depends)" || fail "Depends lacks $dependency: $(field Depends)"
done
for recommended in fonts-wqy-microhei qt6-translations-l10n ca-certificates; do
    grep -qw -- "$recommended" <<<"$(field Recommends)" || fail "Recommends lacks $recommended"
done

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/quernfold.desktop" || fail "desktop-file-validate failed"
grep -qx 'Exec=quernfold %f' "$tree/usr/share/applications/quernfold.desktop" || fail "the menu entry's Exec line"
appstreamcli validate --no-net "$tree/usr/share/metainfo/example.quernfold.quernfold.metainfo.xml" \
    || fail "appstreamcli validate failed"
for size in 48 128; do
    file "$tree/usr/share/icons/hicolor/${size}x${size}/apps/quernfold.png" | grep -q "PNG image data, $size x $size" \
        || fail "the ${size} px icon is not a ${size}x${size} PNG"
done
gzip -dc "$tree/usr/share/man/man1/quernfold.1.gz" | grep -q '^\.TH QUERNFOLD 1' || fail "the man page has no title line"
# The packaged (stripped) program runs and answers without a display.
printed=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tree/usr/bin/quernfold" --version) \
    || fail "the packaged program's --version failed"
[[ $printed == "quernfold $version" ]] || fail "the packaged program printed '$printed' for --version"

echo "check_package: $deb is complete and valid"
dpkg-deb -c "$deb"
