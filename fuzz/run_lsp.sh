#!/bin/sh
# Builds the fuzz preset and fuzzes the language server's message reader for the
# given number of seconds (default 60) from a scratch copy of fuzz/corpus_lsp in
# build/fuzz/run_lsp/. Exits non-zero when the build fails or anything is found; the
# offending input is then left in build/fuzz/run_lsp/artifacts/.
set -eu

seconds=${1:-60}
case $seconds in
  '' | *[!0-9]*) echo "usage: fuzz/run_lsp.sh [seconds]" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_lsp_reader

work=build/fuzz/run_lsp
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp fuzz/corpus_lsp/* "$work/corpus/"
exec build/fuzz/fuzz/fuzz_lsp_reader \
  -max_len=8192 \
  -max_total_time="$seconds" \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" \
  "$work/corpus"
