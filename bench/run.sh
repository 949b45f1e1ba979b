#!/bin/sh
# Runs every benchmark program of a build folder and prints their figures.
# Usage: bench/run.sh [BUILD]   (default: build)
# A missed goal is printed as MISSED and does not fail the script; a benchmark that could not
# measure (its runs failed) does, after the others have run.
#
# As root, each benchmark runs in a network namespace of its own with only loopback up: the
# updater's single-instance lock is an abstract socket, scoped to the namespace, so the
# benchmarks neither wait for nor break tests that run the program at the same time; and
# nothing they start can reach beyond the machine. Elsewhere they share the machine's.
set -u
build=${1:-build}
bin=$build/bin
status=0

isolated() {
  if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1; then
    unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
  else
    "$@"
  fi
}

for name in version_list_bench download_bench memory_bench plan_bench apply_bench many_files_bench; do
  echo "== $name"
  if [ ! -x "$bin/$name" ]; then
    echo "$bin/$name is not built"
    status=1
    continue
  fi
  isolated "$bin/$name" || { echo "$name could not measure"; status=1; }
  echo
done
exit $status
