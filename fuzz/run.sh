#!/bin/sh
# Builds the fuzz preset, replays the saved regressions, then fuzzes the pipeline for
# the given number of seconds (default 60) from a scratch copy of the seed corpus in
# build/fuzz/run/. Exits non-zero when the build fails or anything is found; the
# offending input is then left in build/fuzz/run/artifacts/.
set -eu

seconds=${1:-60}
case $seconds in
  '' | *[!0-9]*) echo "usage: fuzz/run.sh [seconds]" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
cmake --preset fuzz
cmake --build --preset fuzz

target=build/fuzz/fuzz/fuzz_pipeline
work=build/fuzz/run
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp fuzz/corpus/* "$work/corpus/"

# Every input that once failed must pass now (libFuzzer runs each file given by name).
set -- fuzz/regressions/*
if [ -e "$1" ]; then
  "$target" -artifact_prefix="$work/artifacts/" "$@"
fi

# One worker: the reference transformation is slow enough to keep a core busy, and a
# CI machine or a developer's two cores are left one for the rest. A run that takes
# a minute is a hang, not the reference's quadratic cost on 4 KiB.
exec "$target" \
  -max_len=4096 \
  -dict=fuzz/mavo.dict \
  -max_total_time="$seconds" \
  -timeout=60 \
  -rss_limit_mb=2048 \
  -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" \
  "$work/corpus"
