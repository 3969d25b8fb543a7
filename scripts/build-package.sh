#!/bin/sh
# Builds the Debian package zorvex-checker into dist/ and prints its path: a Release build with
# Debian's hardening flags in build-package/ (reused by the next run), packed by CPack.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"
"$top/scripts/install-deps.sh" package

# Debian's flags, with paths inside the checkout written relative to it.
cd "$top"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DZORVEX_BUILD_TESTS=OFF -DZORVEX_BUILD_BENCHMARKS=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -B "$build/cpack" >/dev/null)

mkdir -p "$top/dist"
for package in "$build"/cpack/*.deb; do
  cp "$package" "$top/dist/"
  echo "$top/dist/$(basename "$package")"
done
