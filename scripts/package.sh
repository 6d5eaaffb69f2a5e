#!/usr/bin/env bash
# Builds the two Debian packages, quillet and quillet-sync-server, with CPack's DEB generator
# from a /usr build in the given folder, then checks them with lintian. The packages land in
# that folder. A new folder (default build-package) gets a release build without tests; an
# existing build folder keeps its type and options (scripts/test.sh packages its own build).
# Usage: scripts/package.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}

scripts/install-deps.sh
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
else
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$build" -j2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb

# The desktop entry and the AppStream data as the desktop's tools read them.
desktop-file-validate resources/quillet.desktop
appstreamcli validate --no-net --explain resources/org.quillet.Quillet.metainfo.xml >/dev/null

# Errors fail the build; the warnings left are explained in the README ("Install").
lintian --fail-on error --suppress-tags-from-file packaging/lintian-overrides "$build"/*.deb
