#!/usr/bin/env bash
# Builds the Release binary with the bench preset and measures it on generated
# scripts: wall time (median of N runs), throughput, peak memory and the ratio to
# the floor (a program that only reads the file, turns LF into CR LF and writes
# it), then the adversarial patterns, then how time grows with the script size.
#
#   bench/run.sh [--smoke] [--runs N] [--sizes "R1 R2 ..."] [--pattern-count N]
#                [--timeout S] [--no-build] [--mavo PATH] [--stages]
#
#   --smoke          tiny sizes, one run, no warm-up: finishes in seconds; exits
#                    non-zero when a run of mavo fails or writes no mavo.qst
#   --runs N         timed runs per measurement (default 5)
#   --sizes LIST     room counts to generate (default "2500 10000 20000 40000")
#   --pattern-count  statements per adversarial pattern (default 100000)
#   --timeout S      a run still going after S seconds is killed and counted as
#                    failed (default 60)
#   --no-build       use the binaries already in build/bench
#   --mavo PATH      measure this mavo binary instead of build/bench/mavo
#   --stages         also run the in-process stage timings (stages_perftest)
#
# Exit status: 0 when every run succeeded, 1 when one failed, 2 on bad usage.
# Targets missed are reported, not turned into a failing status.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build/bench"
RUNS=5
SIZES="2500 10000 20000 40000"
PATTERN_COUNT=100000
LIMIT=60
SMOKE=0
DO_BUILD=1
STAGES=0
MAVO_OPT=""
PATTERNS="same-base no-comma no-brace unclosed-comment continuations long-line long-label long-brace anagrams nested"

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) SMOKE=1; RUNS=1; SIZES="100 400"; PATTERN_COUNT=1000 ;;
    --runs) RUNS="${2:?}"; shift ;;
    --sizes) SIZES="${2:?}"; shift ;;
    --pattern-count) PATTERN_COUNT="${2:?}"; shift ;;
    --timeout) LIMIT="${2:?}"; shift ;;
    --no-build) DO_BUILD=0 ;;
    --mavo) MAVO_OPT="${2:?}"; shift ;;
    --stages) STAGES=1 ;;
    -h|--help) usage ;;
    *) echo "run.sh: unknown option $1" >&2; usage ;;
  esac
  shift
done
case "$RUNS" in ''|*[!0-9]*|0) echo "run.sh: --runs needs a positive number" >&2; exit 2 ;; esac

WORK=$(mktemp -d "${TMPDIR:-/tmp}/mavo-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

if [ "$DO_BUILD" = 1 ]; then
  echo "building: cmake --preset bench && cmake --build --preset bench"
  if ! (cd "$ROOT" && cmake --preset bench && cmake --build --preset bench) >"$WORK/build.log" 2>&1; then
    cat "$WORK/build.log" >&2
    echo "run.sh: build failed" >&2
    exit 1
  fi
fi
MAVO="${MAVO_OPT:-$BUILD/mavo}"
case "$MAVO" in /*) ;; *) MAVO="$PWD/$MAVO" ;; esac
GEN="$BUILD/bench/gen_script"
FLOOR="$BUILD/bench/floor"
TIMED="$BUILD/bench/run_timed"
for tool in "$MAVO" "$GEN" "$FLOOR" "$TIMED"; do
  [ -x "$tool" ] || { echo "run.sh: missing $tool (build with the bench preset)" >&2; exit 1; }
done

FAILED=0
RUN_DIR="$WORK/run"
mkdir -p "$RUN_DIR"

# Result lines of run_timed: wall seconds, cpu seconds, peak resident KiB, status.
# median FILE [COLUMN]: the median of a column (default 1, wall seconds).
median() {
  sort -g -k"${2:-1}","${2:-1}" "$1" |
    awk -v c="${2:-1}" '{ v[NR] = $c } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# peak FILE: the largest peak resident KiB of the runs.
peak() { awk 'BEGIN { m = 0 } $3 > m { m = $3 } END { print m }' "$1"; }

# measure RESULTS OUTPUT CMD...: runs CMD in the run folder (once untimed unless
# smoke, then RUNS times timed); every run must exit 0 and leave OUTPUT behind.
# MEASURED_OK is 1 when all did.
measure() {
  local results=$1 output=$2
  shift 2
  : >"$results"
  : >"$WORK/warmup"
  MEASURED_OK=1
  local i total=$RUNS
  [ "$SMOKE" = 1 ] || total=$((RUNS + 1))
  for ((i = 1; i <= total; i++)); do
    rm -f "$RUN_DIR/$output"
    local into=$results
    [ "$SMOKE" = 1 ] || [ "$i" -gt 1 ] || into="$WORK/warmup"
    (cd "$RUN_DIR" && "$TIMED" -t "$LIMIT" "$into" "$@" >/dev/null 2>"$WORK/stderr") || true
    local status
    status=$(tail -n 1 "$into" | awk '{ print $4 }')
    if [ "$status" != 0 ] || [ ! -s "$RUN_DIR/$output" ]; then
      MEASURED_OK=0
      MEASURED_STATUS=${status:-none}
      [ "$status" = 0 ] && MEASURED_STATUS="no $output"
      echo "FAILED: $* (status $MEASURED_STATUS)" >&2
      head -c 2000 "$WORK/stderr" >&2 || true
      if [ "$into" != "$results" ]; then cp "$into" "$results"; fi
      return
    fi
  done
}

fmt_s() { awk -v t="$1" 'BEGIN { printf "%.3f", t }'; }
div() { awk -v a="$1" -v b="$2" -v f="${3:-%.2f}" 'BEGIN { if (b > 0) printf f, a / b; else printf "-" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

declare -A T_MAVO C_MAVO T_FLOOR PEAK_KIB OUT_BYTES IN_BYTES

read -r load _ </proc/loadavg || load=0
echo
echo "machine: $(nproc) cores, load average $load before the runs"
if awk -v l="$load" 'BEGIN { exit !(l >= 0.5) }'; then
  echo "note: other work is running; wall times are inflated, the cpu column is steadier"
fi
echo
warm=", after one untimed run"
[ "$SMOKE" = 1 ] && warm=""
echo "mavo on generated rooms (median of $RUNS runs$warm; wall, and cpu = user + sys seconds;"
echo "MB/s = input MB / median wall, MB = 10^6 bytes; peak = max RSS; xfloor = wall / floor wall)"
printf '%7s %10s %10s %8s %8s %8s %7s %9s %8s %8s %7s\n' \
  rooms "in bytes" "out bytes" buttons "wall s" "cpu s" "MB/s" "peak MiB" peak/out "floor s" xfloor
for rooms in $SIZES; do
  input="$WORK/rooms_$rooms.qst"
  "$GEN" "$rooms" 1 >"$input"
  in_bytes=$(stat -c %s "$input")
  measure "$WORK/mavo_$rooms" mavo.qst "$MAVO" "$input"
  if [ "$MEASURED_OK" != 1 ]; then
    FAILED=1
    printf '%7s %10s  FAILED (%s)\n' "$rooms" "$in_bytes" "$MEASURED_STATUS"
    continue
  fi
  out_bytes=$(stat -c %s "$RUN_DIR/mavo.qst")
  buttons=$( { grep -ao 'btn mavo_' "$RUN_DIR/mavo.qst" || true; } | wc -l)
  t=$(median "$WORK/mavo_$rooms")
  c=$(median "$WORK/mavo_$rooms" 2)
  kib=$(peak "$WORK/mavo_$rooms")
  measure "$WORK/floor_$rooms" floor.out "$FLOOR" "$input"
  if [ "$MEASURED_OK" != 1 ]; then
    FAILED=1
    tf=0
  else
    tf=$(median "$WORK/floor_$rooms")
  fi
  T_MAVO[$rooms]=$t; C_MAVO[$rooms]=$c; T_FLOOR[$rooms]=$tf; PEAK_KIB[$rooms]=$kib
  OUT_BYTES[$rooms]=$out_bytes; IN_BYTES[$rooms]=$in_bytes
  printf '%7s %10s %10s %8s %8s %8s %7s %9s %8s %8s %7s\n' "$rooms" "$in_bytes" "$out_bytes" "$buttons" \
    "$(fmt_s "$t")" "$(fmt_s "$c")" "$(div "$in_bytes" "$(awk -v t="$t" 'BEGIN { print t * 1e6 }')" %.1f)" "$(mib "$kib")" \
    "$(div "$((kib * 1024))" "$out_bytes")" "$(fmt_s "$tf")" "$(div "$t" "$tf")"
  rm -f "$RUN_DIR/mavo.qst" "$RUN_DIR/floor.out"
done

# mavo-check on the same scripts: its report goes to a file; status 1 (findings) is
# a success here. Targets: at most twice mavo's wall time, peak at most 4x the script.
CHECK="$(dirname "$MAVO")/mavo-check"
if [ -x "$CHECK" ]; then
  echo
  echo "mavo-check on the same rooms (median of $RUNS runs$warm; xmavo = wall / mavo's wall; peak/in = max RSS / script bytes)"
  printf '%7s %10s %9s %8s %8s %6s %9s %7s\n' rooms "in bytes" findings "wall s" "cpu s" xmavo "peak MiB" peak/in
  for rooms in $SIZES; do
    input="$WORK/rooms_$rooms.qst"
    [ -n "${T_MAVO[$rooms]:-}" ] || continue
    measure "$WORK/check_$rooms" check.out /bin/sh -c '"$0" "$1" >check.out; [ $? -le 1 ]' "$CHECK" "$input"
    if [ "$MEASURED_OK" != 1 ]; then
      FAILED=1
      printf '%7s %10s  FAILED (%s)\n' "$rooms" "${IN_BYTES[$rooms]}" "$MEASURED_STATUS"
      continue
    fi
    t=$(median "$WORK/check_$rooms")
    kib=$(peak "$WORK/check_$rooms")
    findings=$( { grep -c ': warning: ' "$RUN_DIR/check.out" || true; } )
    printf '%7s %10s %9s %8s %8s %6s %9s %7s\n' "$rooms" "${IN_BYTES[$rooms]}" "$findings" "$(fmt_s "$t")" \
      "$(fmt_s "$(median "$WORK/check_$rooms" 2)")" "$(div "$t" "${T_MAVO[$rooms]}")" "$(mib "$kib")" \
      "$(div "$((kib * 1024))" "${IN_BYTES[$rooms]}")"
    rm -f "$RUN_DIR/check.out"
  done
else
  echo "mavo-check not built beside $MAVO: not measured"
fi

declare -A T_PATTERN
echo
echo "adversarial patterns at $PATTERN_COUNT statements (median of $RUNS runs$warm)"
printf '%-17s %10s %10s %8s %8s %8s %9s\n' pattern "in bytes" "out bytes" buttons "wall s" "cpu s" "peak MiB"
for pattern in $PATTERNS; do
  input="$WORK/pattern_$pattern.qst"
  "$GEN" --pattern "$pattern" "$PATTERN_COUNT" >"$input"
  in_bytes=$(stat -c %s "$input")
  measure "$WORK/pattern_$pattern" mavo.qst "$MAVO" "$input"
  if [ "$MEASURED_OK" != 1 ]; then
    FAILED=1
    T_PATTERN[$pattern]=fail
    printf '%-17s %10s  FAILED (%s)\n' "$pattern" "$in_bytes" "$MEASURED_STATUS"
    continue
  fi
  t=$(median "$WORK/pattern_$pattern")
  T_PATTERN[$pattern]=$t
  buttons=$( { grep -ao 'btn mavo_' "$RUN_DIR/mavo.qst" || true; } | wc -l)
  printf '%-17s %10s %10s %8s %8s %8s %9s\n' "$pattern" "$in_bytes" "$(stat -c %s "$RUN_DIR/mavo.qst")" "$buttons" \
    "$(fmt_s "$t")" "$(fmt_s "$(median "$WORK/pattern_$pattern" 2)")" "$(mib "$(peak "$WORK/pattern_$pattern")")"
  rm -f "$RUN_DIR/mavo.qst" "$input"
done

# Growth: the largest size against the one a quarter of it, when both were measured.
largest=$(printf '%s\n' $SIZES | sort -n | tail -n 1)
quarter=$((largest / 4))
growth=""
echo
if [ -n "${T_MAVO[$largest]:-}" ] && [ -n "${T_MAVO[$quarter]:-}" ]; then
  growth=$(div "${T_MAVO[$largest]}" "${T_MAVO[$quarter]}")
  echo "growth: time($largest rooms) / time($quarter rooms) = $growth wall," \
    "$(div "${C_MAVO[$largest]}" "${C_MAVO[$quarter]}") cpu (4.00 is linear)"
else
  echo "growth: not measured (needs sizes N and 4N)"
fi

judge() {  # judge TEXT CONDITION-IN-AWK
  if awk "BEGIN { exit !($2) }"; then echo "  MET     $1"; else echo "  MISSED  $1"; fi
}

if [ "$SMOKE" = 1 ]; then
  echo "smoke run: targets not judged"
else
  echo
  echo "targets"
  if [ -n "${T_MAVO[40000]:-}" ]; then
    t=${T_MAVO[40000]}; tf=${T_FLOOR[40000]}
    judge "40000 rooms in <= 0.5 s wall        ($(fmt_s "$t") s)" "$t <= 0.5"
    judge "40000 rooms <= 8x the floor          ($(div "$t" "$tf")x)" "$tf > 0 && $t <= 8 * $tf"
    judge "peak memory <= 4x output size        ($(div "$((PEAK_KIB[40000] * 1024))" "${OUT_BYTES[40000]}")x)" \
      "${PEAK_KIB[40000]} * 1024 <= 4 * ${OUT_BYTES[40000]}"
  else
    echo "  (40000 rooms not measured)"
  fi
  if [ "$largest" = 40000 ] && [ -n "$growth" ]; then
    judge "time(40000) <= 4.8x time(10000)      (${growth}x)" "$growth <= 4.8"
  fi
  for pattern in $PATTERNS; do
    t=${T_PATTERN[$pattern]:-fail}
    if [ "$t" = fail ]; then
      echo "  MISSED  $pattern at $PATTERN_COUNT < 1 s  (failed or timed out)"
    else
      judge "$(printf '%-17s at %s < 1 s  (%s s)' "$pattern" "$PATTERN_COUNT" "$(fmt_s "$t")")" "$t < 1"
    fi
  done
fi

if [ "$STAGES" = 1 ]; then
  echo
  echo "stage timings in process"
  if [ -x "$BUILD/bench/stages_perftest" ]; then
    "$BUILD/bench/stages_perftest"
  else
    echo "stages_perftest not built (Google Benchmark not found)"
  fi
fi

if [ "$FAILED" != 0 ]; then
  echo "run.sh: some runs failed" >&2
  exit 1
fi
