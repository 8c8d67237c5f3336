#!/usr/bin/env bash
# run_consumers.sh <build dir> <source dir>
# Installs the build into a temporary prefix and builds tiny downstream
# programs against it the ways a consumer would: CMake's find_package,
# pkg-config, and a JVM loading the library through the jar's loader.  Then
# builds the Debian packages, unpacks them and builds the C consumer again.
set -euo pipefail
build=$(realpath "$1")
src=$(realpath "$2")
here=$src/tests/consumers
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "--- $*"; }

step "install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

step "C consumer with find_package"
cmake -S "$here/find_package" -B "$work/fp" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/fp" >/dev/null
"$work/fp/consumer"
"$work/fp/static_consumer"
if ldd "$work/fp/static_consumer" | grep -q zelkor; then
  echo "static_consumer must not load libzelkor.so"; exit 1
fi

step "C consumer with pkg-config"
libdir=$(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --variable=libdir zelkor)
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/pc_consumer" "$here/consumer.c" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs zelkor) \
  -Wl,-rpath,"$libdir"
"$work/pc_consumer"

step "Debian packages"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
for deb in "$work"/*.deb; do
  echo "$(basename "$deb"):"
  dpkg-deb -f "$deb" Package Depends | sed 's/^/  /'
  dpkg-deb -x "$deb" "$work/root"
done
step "C consumer with find_package, against the unpacked packages"
cmake -S "$here/find_package" -B "$work/fp-deb" -G Ninja -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/fp-deb" >/dev/null
"$work/fp-deb/consumer"
"$work/fp-deb/static_consumer"
echo "consumers ok"
