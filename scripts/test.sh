#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi

# The request decoder runs once more under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -DBOARD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j2 --target test_cgi
(cd build-asan && ctest --output-on-failure -R '^cgi\.' -j2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
cd build
ctest --output-on-failure -j2
