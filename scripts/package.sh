#!/usr/bin/env bash
# Builds the Debian package: a Release build without the tests in build-package/ (incremental),
# with Debian's hardening flags, then CPack. Prints the package's path.
#   scripts/package.sh              → build-package/orvane_<version>_<arch>.deb
# Install it with   sudo apt install ./build-package/orvane_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
dir=${ORVANE_PACKAGE_BUILD:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
  "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cppflags" \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" \
  "-DCMAKE_SHARED_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" \
  "-DCMAKE_MODULE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
rm -f "$dir"/orvane_*.deb
cpack --config "$dir/CPackConfig.cmake" -B "$dir" > "$dir/cpack.log" || { cat "$dir/cpack.log"; exit 1; }
ls "$dir"/orvane_*.deb
