#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# The fuzz tests: clang with libFuzzer and the sanitizers.
command -v clang++ >/dev/null || need+=(clang)
# boardadmin writes and reads its backups through zlib.
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)
# The web tests: lighttpd and Apache serve a temporary installation, Debian's Chromium is driven by
# playwright-core from npm (no browser is ever downloaded).
command -v lighttpd >/dev/null || [ -x /usr/sbin/lighttpd ] || need+=(lighttpd)
# The same installation also runs under Debian's Apache httpd (its own apache2.conf); the
# server program and modules alone (apache2-bin), so no system-wide server is set up.
[ -x /usr/sbin/apache2 ] || need+=(apache2-bin)
# v2convert reads the earlier version's Access database through libmdb; its tests also use
# the mdbtools commands.
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -f /usr/include/mdbtools.h ] || need+=(mdbtools-dev)
command -v mdb-export >/dev/null || need+=(mdbtools)
[ -x /usr/bin/chromium ] || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
if [ ! -f node_modules/playwright-core/package.json ] ||
   [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund
fi

# Every GoogleTest suite runs once more under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -DBOARD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j2
(cd build-asan && ctest --output-on-failure -E '^web\.' -j2)

# Each libFuzzer harness runs for a bounded time (BOARD_FUZZ_SECONDS) from its committed corpus.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DBOARD_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target fuzzers
(cd build-fuzz && ctest --output-on-failure -R '^fuzz\.' -j2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
cd build
ctest --output-on-failure -j2
