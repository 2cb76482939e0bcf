#!/usr/bin/env bash
# Builds the Debian package with scripts/package in a private folder and
# checks it: the files it installs, its dependencies as computed from the
# binaries, and the packaged programs run from a folder it is unpacked in.
#   check_package.sh SOURCE_DIR MAKE_SAMPLE VERSION SANITIZED
set -euo pipefail
src=$1 make_sample=$2 version=$3 sanitized=$4
if [ "$sanitized" = 1 ]; then
  echo "the package is a Release build of its own: the plain suite checks it"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

PACKAGE_BUILD=$work/build "$src/scripts/package" >/dev/null
deb=$work/build/tessaline_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "scripts/package made no $deb"; exit 1; }

# Everything under /usr; the library in the multiarch folder beside its
# soname and development links.
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
so=libLiDAR.so.${version%%.*}
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 ($7 == "->" ? " -> " $8 : "") }')
for f in usr/bin/Tessaline usr/bin/Tessaline-tiles usr/include/LiDAR/LiDAR.h \
  "$lib/libLiDAR.so.$version" "$lib/$so -> libLiDAR.so.$version" "$lib/libLiDAR.so -> $so" \
  "$lib/cmake/LiDAR/LiDARConfig.cmake" "$lib/cmake/LiDAR/LiDARTargets.cmake" "$lib/pkgconfig/LiDAR.pc" \
  usr/share/man/man1/Tessaline.1.gz "usr/share/man/man1/Tessaline-tiles.1.gz -> Tessaline.1.gz"; do
  grep -qxF -- "./$f" <<<"$contents" || { echo "not in the package: $f"; echo "$contents"; exit 1; }
done
if grep -v '^\./usr/' <<<"$contents"; then echo "installed outside /usr"; exit 1; fi
[ "$(dpkg-deb -f "$deb" Suggests)" = qgis ] || { echo "Suggests is not qgis"; exit 1; }

# The libraries' packages with the versions dpkg-shlibdeps found, and GNU
# parallel for the tiles command.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//')
for d in 'libc6 (>= ' 'libstdc++6 (>= ' 'libgcc-s1 (>= ' 'libshp2 (>= ' 'libproj25 (>= ' 'libgeotiff5 (>= ' 'libcurl4 (>= ' 'libgeos-c1v5 (>= ' 'libsqlite3-0 (>= ' 'parallel$'; do
  grep -q "^$d" <<<"$depends" || { echo "Depends lacks '$d':"; echo "$depends"; exit 1; }
done

root=$work/root
dpkg -x "$deb" "$root"
resolved=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/Tessaline" | awk '$1 ~ /^libLiDAR/ {print $3}')
[ "$(readlink -f "$resolved")" = "$(readlink -f "$root/$lib/$so")" ] ||
  { echo "packaged Tessaline resolves libLiDAR to '$resolved'"; exit 1; }
out=$(env -u LD_LIBRARY_PATH "$root/usr/bin/Tessaline" --version)
[ "$out" = "Tessaline $version" ] || { echo "--version printed: $out"; exit 1; }
# The QGIS plugin, file for file, where Debian's QGIS finds system plugins.
plugin=usr/share/qgis/python/plugins/tessaline
[ "$(ls -I __pycache__ "$src/qgis/tessaline")" = "$(ls "$root/$plugin")" ] || { echo "$plugin holds:"; ls "$root/$plugin"; exit 1; }
for f in "$src"/qgis/tessaline/*; do
  cmp -s "$f" "$root/$plugin/${f##*/}" || { echo "$plugin/${f##*/} is not qgis/tessaline/${f##*/}"; exit 1; }
done
zcat "$root/usr/share/man/man1/Tessaline-tiles.1.gz" | cmp -s - "$src/docs/Tessaline.1" ||
  { echo "the packaged manual page is not docs/Tessaline.1"; exit 1; }

mkdir -p "$work/tiles/north"
"$make_sample" "$work/tiles/tile.las" 1000 >/dev/null
cp "$work/tiles/tile.las" "$work/tiles/north/tile.las"
(cd "$work/tiles" && env -u LD_LIBRARY_PATH "$root/usr/bin/Tessaline" tile.las >/dev/null) ||
  { echo "packaged Tessaline did not convert tile.las"; exit 1; }
out=$(env -u LD_LIBRARY_PATH "$root/usr/bin/Tessaline-tiles" "$work/tiles/north") ||
  { echo "packaged Tessaline-tiles failed:"; echo "$out"; exit 1; }
for f in tile.shp tile.shx tile.dbf north/tile.shp north/tile.shx north/tile.dbf north/tile.log; do
  [ -s "$work/tiles/$f" ] || { echo "no $f"; exit 1; }
done
cmp -s "$work/tiles/tile.shp" "$work/tiles/north/tile.shp" || { echo "the tiles' outputs differ"; exit 1; }
echo "package ok"
