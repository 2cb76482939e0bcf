#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks what lands where, runs the
# installed Tessaline, and builds and runs a C project against the installed
# LiDAR package, once through CMake and once with cc and pkg-config.
#   check_install.sh CMAKE BUILD_DIR CONSUMER_SOURCE_DIR [CONSUMER_C_FLAGS]
set -euo pipefail
cmake=$1 build=$2 consumer=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for f in bin/Tessaline bin/Tessaline-tiles include/LiDAR/LiDAR.h share/man/man1/Tessaline.1.gz \
  share/man/man1/Tessaline-tiles.1.gz; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
lib=$(find "$prefix" -name libLiDAR.so -print -quit)
[ -n "$lib" ] || { echo "not installed: libLiDAR.so"; exit 1; }
libdir=$(dirname "$lib")
for f in cmake/LiDAR/LiDARConfig.cmake cmake/LiDAR/LiDARConfigVersion.cmake cmake/LiDAR/LiDARTargets.cmake \
  pkgconfig/LiDAR.pc; do
  [ -f "$libdir/$f" ] || { echo "not installed: $f"; exit 1; }
done

# The installed program finds the installed library through its RPATH alone.
resolved=$(env -u LD_LIBRARY_PATH ldd "$prefix/bin/Tessaline" | awk '$1 ~ /^libLiDAR/ {print $3}')
[ "$(readlink -f "$resolved")" = "$(readlink -f "$lib")" ] ||
  { echo "installed Tessaline resolves libLiDAR to '$resolved', not $lib"; exit 1; }
set +e
out=$(cd "$work" && env -u LD_LIBRARY_PATH "$prefix/bin/Tessaline")
status=$?
set -e
[ "$status" -eq 255 ] || { echo "installed Tessaline without arguments: status $status"; exit 1; }
grep -q "Usage:" <<<"$out" && grep -q "Oxbrae LiDAR Utilities" <<<"$out" ||
  { echo "installed Tessaline printed:"; echo "$out"; exit 1; }

# Another project finds the package and links LiDAR::LiDAR.
"$cmake" -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
found=$(grep '^LiDAR_DIR:' "$work/consumer/CMakeCache.txt" | cut -d= -f2)
[ "$(readlink -f "$found")" = "$(readlink -f "$libdir/cmake/LiDAR")" ] ||
  { echo "find_package(LiDAR) found '$found'"; exit 1; }
"$cmake" --build "$work/consumer" >/dev/null
mkdir "$work/run"
(cd "$work/run" && env -u LD_LIBRARY_PATH "$work/consumer/lidar_consumer")

# The same C tool built by hand: pkg-config gives the prefix's include folder
# and library.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --variable=prefix LiDAR)" = "$prefix" ] ||
  { echo "LiDAR.pc names the prefix '$(pkg-config --variable=prefix LiDAR)'"; exit 1; }
# $flags and pkg-config's answer are lists of words, unquoted on purpose.
cc -std=c99 -Wall -Wextra -pedantic -Werror $flags -o "$work/pc_consumer" "$consumer/consumer.c" \
  $(pkg-config --cflags --libs LiDAR)
mkdir "$work/run-pc"
(cd "$work/run-pc" && LD_LIBRARY_PATH=$libdir "$work/pc_consumer")
echo "installed package ok"
