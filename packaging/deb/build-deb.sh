#!/bin/sh
# Builds tarnwick_<version>_<arch>.deb from this tree, with Debian's compiler
# and linker flags (dpkg-buildflags) and no warnings as errors, the way a
# Debian package build would. Usage: build-deb.sh OUTDIR
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
here="$src/packaging/deb"
mkdir -p "${1:?output directory}"
out=$(cd "$1" && pwd)
version=$(sed -n '1s/^tarnwick (\([^)]*\)).*/\1/p' "$here/changelog")
arch=$(dpkg --print-architecture)
build="$out/build"
stage="$out/root"
deb="$out/tarnwick_${version}_${arch}.deb"
rm -rf "$stage" "$deb"

# The build date in the banner is the changelog's, so a rebuild gives the
# same bytes.
stamp=$(LC_ALL=C date -u -d "$(sed -n 's/^ -- .*>  //p' "$here/changelog" | head -n 1)" '+%b %e %Y %H:%M:%S')
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=None -DTW_WERROR=OFF -DTW_BUILD_STAMP="$stamp" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >"$out/build.log" 2>&1 ||
    { cat "$out/build.log"; exit 1; }
cmake --build "$build" --target tw_install_programs -j "$(nproc 2>/dev/null || echo 2)" >>"$out/build.log" 2>&1 ||
    { cat "$out/build.log"; exit 1; }
DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip >>"$out/build.log" 2>&1 ||
    { cat "$out/build.log"; exit 1; }

strip --remove-section=.comment --remove-section=.note "$stage/usr/bin/"*
doc="$stage/usr/share/doc/tarnwick"
find "$stage/usr/share/man" -type f -exec gzip -9n {} +
cp "$here/copyright" "$doc/copyright"
gzip -9nc "$here/changelog" >"$doc/changelog.gz"
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/usr/bin/"*

mkdir -p "$stage/DEBIAN" "$out/shlibs/debian"
printf 'Source: tarnwick\n\nPackage: tarnwick\nArchitecture: any\n' >"$out/shlibs/debian/control"
depends=$(cd "$out/shlibs" && dpkg-shlibdeps -O "$stage/usr/bin/tarnwick" "$stage/usr/bin/tarnwick-dump" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
    "$here/control.in" >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -exec md5sum {} + | LC_ALL=C sort -k2 >DEBIAN/md5sums)
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
