#!/usr/bin/env bash
# Start-up time, memory, idle CPU and file size of the program, beside a minimal Win32 window
# program (the floor) and Wine's notepad. Prints figures; asserts nothing.
#   bash bench/run.sh [runs]      (default 25 runs of each program)
#   LUMENO_BENCH_BEFORE=other.exe bash bench/run.sh   also measures another build in the same run
set -euo pipefail
cd "$(dirname "$0")/.."

if ! log=$(bash scripts/build.sh 2>&1); then
  printf '%s\n' "$log" | tail -30 >&2
  echo "bench: build failed" >&2
  exit 1
fi
out=build/bench
mkdir -p "$out"
cxx=x86_64-w64-mingw32-g++-posix
for tool in floor:-mwindows waiter:-mconsole; do
  name=${tool%%:*}
  if [ ! -f "$out/$name.exe" ] || [ "bench/$name.cpp" -nt "$out/$name.exe" ]; then
    "$cxx" -std=c++20 -O2 -s -static -static-libgcc -static-libstdc++ "${tool#*:}" \
      -o "$out/$name.exe" "bench/$name.cpp"
  fi
done

# Bounded: the bench times itself out after 400 s of measuring, plus up to 20 min waiting
# for the prefix while tests use it; on SIGTERM the harness ends its Wine processes and Xvfb.
exec timeout -k 20 1560 /usr/bin/python3 bench/startup_bench.py "$@"
