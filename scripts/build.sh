#!/usr/bin/env bash
# Builds the Windows program (cross-compiled) and the native unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${LUMENO_JOBS:-2}
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build build/win -j"$jobs"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native -j"$jobs"
