#!/bin/sh
# Runs every benchmark program of a build folder and prints their figures.
# Usage: bench/run.sh [BUILD]   (default: build)
# A missed goal is printed as MISSED and does not fail the script; a benchmark that could not
# measure (its runs failed) does, after the others have run.
set -u
build=${1:-build}
bin=$build/bin
status=0
for name in version_list_bench download_bench memory_bench plan_bench apply_bench; do
  echo "== $name"
  if [ ! -x "$bin/$name" ]; then
    echo "$bin/$name is not built"
    status=1
    continue
  fi
  "$bin/$name" || { echo "$name could not measure"; status=1; }
  echo
done
exit $status
