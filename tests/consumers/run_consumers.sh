#!/usr/bin/env bash
# run_consumers.sh <build dir> <source dir>
# Installs the build into a temporary prefix and builds tiny downstream
# programs against it the ways a consumer would: CMake's find_package,
# pkg-config, and JVMs loading the library through the jar's loader, the jar
# on the class path and as a module on the module path, and the installed
# zelkor-with-natives.jar loading its own copy.  Then builds the Debian
# packages, checks that the library files lie in Debian's multiarch
# directory and the jars beside each other, unpacks them and builds the C
# consumer again.
set -euo pipefail
build=$(realpath "$1")
src=$(realpath "$2")
here=$src/tests/consumers
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "--- $*"; }

step "install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# The library directory is the build's choice (Debian's multiarch one for a
# /usr build, plain lib otherwise): follow the pkg-config file to it.
pc_files=$(find "$work/prefix" -name zelkor.pc)
if [ -z "$pc_files" ] || [ "$(wc -l <<<"$pc_files")" -ne 1 ]; then
  echo "expected one zelkor.pc in the installed tree, found: ${pc_files:-none}"; exit 1
fi
pc_dir=$(dirname "$pc_files")
echo "library directory: $(dirname "${pc_dir#"$work/prefix/"}")"

step "C consumer with find_package"
cmake -S "$here/find_package" -B "$work/fp" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/fp" >/dev/null
"$work/fp/consumer"
"$work/fp/static_consumer"
if ldd "$work/fp/static_consumer" | grep -q zelkor; then
  echo "static_consumer must not load libzelkor.so"; exit 1
fi

step "C consumer with pkg-config"
libdir=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=libdir zelkor)
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/pc_consumer" "$here/consumer.c" \
  $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs zelkor) \
  -Wl,-rpath,"$libdir"
"$work/pc_consumer"

step "JVM consumer: the jar's loader finds the installed library by name"
out=$(java -Xcheck:jni -Djava.library.path="$libdir" \
  -cp "$work/prefix/share/java/zelkor.jar" "$here/JvmConsumer.java" "$libdir" 2>&1)
echo "$out"
if grep -qE 'WARNING|FATAL ERROR' <<<"$out"; then
  echo "the JVM reported a JNI problem"; exit 1
fi

step "JVM consumer: the installed jar as module org.tarvik.zelkor on the module path"
# JDK 24 and later warn unless the module is granted native access.
out=$(java -Xcheck:jni --enable-native-access=org.tarvik.zelkor \
  --module-path "$work/prefix/share/java/zelkor.jar" --add-modules org.tarvik.zelkor \
  "$here/JvmModuleConsumer.java" "$libdir/libzelkor.so" 2>&1)
echo "$out"
if grep -qE 'WARNING|FATAL ERROR' <<<"$out"; then
  echo "the JVM reported a problem"; exit 1
fi

step "JVM consumer: the installed zelkor-with-natives.jar on the module path, nothing on java.library.path"
natives_jar=$work/prefix/share/java/zelkor-with-natives.jar
[ -f "$natives_jar" ] ||
  { echo "the install has no share/java/zelkor-with-natives.jar: scripts/natives-jar.sh makes it"; exit 1; }
mkdir "$work/natives-tmp"
out=$(java -Xcheck:jni --enable-native-access=org.tarvik.zelkor -Djava.library.path= \
  -Dorg.tarvik.zelkor.tmpdir="$work/natives-tmp" \
  --module-path "$natives_jar" --add-modules org.tarvik.zelkor \
  "$here/NativesJarConsumer.java" "$work/natives-tmp" 2>&1)
echo "$out"
if grep -qE 'WARNING|FATAL ERROR' <<<"$out"; then
  echo "the JVM reported a problem"; exit 1
fi

step "Debian packages"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
declare -A contents
for deb in "$work"/*.deb; do
  echo "$(basename "$deb"):"
  dpkg-deb -f "$deb" Package Depends | sed 's/^/  /'
  contents[$(dpkg-deb -f "$deb" Package)]=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
  dpkg-deb -x "$deb" "$work/root"
done

step "Debian packages: library files in the multiarch directory"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
[ -n "$multiarch" ] || { echo "no multiarch name from dpkg-architecture or gcc"; exit 1; }
ma=usr/lib/$multiarch
# package_holds PACKAGE PATH...
package_holds() {
  local package=$1 path
  shift
  for path; do
    if ! grep -qxF "$path" <<<"${contents[$package]:-}"; then
      echo "$package lacks $path"; exit 1
    fi
  done
}
# The runtime package keeps the plain name: System.loadLibrary looks for it.
package_holds libzelkor1 "$ma/libzelkor.so.1" "$ma/libzelkor.so" usr/share/java/zelkor.jar \
  usr/share/java/zelkor-with-natives.jar
package_holds libzelkor-dev "$ma/libzelkor.a" "$ma/pkgconfig/zelkor.pc" \
  "$ma/cmake/zelkor/zelkorConfig.cmake" "$ma/cmake/zelkor/zelkorTargets.cmake"
stray=$(printf '%s\n' "${contents[@]}" | grep '^usr/lib/[^/]' | grep -v "^$ma/" || true)
if [ -n "$stray" ]; then
  echo "outside $ma:"; echo "$stray"; exit 1
fi
echo "$ma holds the library, its archive, CMake package and pkg-config file"
step "C consumer with find_package, against the unpacked packages"
cmake -S "$here/find_package" -B "$work/fp-deb" -G Ninja -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/fp-deb" >/dev/null
"$work/fp-deb/consumer"
"$work/fp-deb/static_consumer"
echo "consumers ok"
