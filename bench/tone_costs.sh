#!/usr/bin/env bash
# The cost per frame of common test tones against 440 Hz s16 at 44.1 kHz:
# whole runs of the program, one thread (PURETONE_THREADS=1), to /dev/null,
# interleaved so that they share the machine's noise. Prints each tone's
# median ns per frame, and its ratio to 440 Hz, with the range of the
# ratios run by run. Given an earlier binary, runs it too, each run beside
# this one's, and prints the median of this binary's time over its.
# Signals (whose last word is "-": options alone, made --length long) run
# in this binary only. A sweep with --inverse writes both files: the
# inverse's own cost is the difference from the sweep alone.
#
#   bench/tone_costs.sh [seconds (600)] [runs (7)] [puretone binary (build/puretone)] [earlier binary]
set -euo pipefail

seconds=${1:-600}
runs=${2:-7}
here=$(cd "$(dirname "$0")/.." && pwd)
puretone=${3:-$here/build/puretone}
[ -x "$puretone" ] || { echo "tone_costs: no binary at $puretone; build first" >&2; exit 1; }
earlier=${4:-}

# name, rate, then the options and frequency.
tones=(
  "440_s16 44100 440"
  "1000_48k_s16 48000 -r 48000 1000"
  "997_48k_s16 48000 -r 48000 997"
  "1000_48k_s24_-18dB 48000 -r 48000 --format s24 --level -18dB 1000"
  "1000_48k_f32 48000 -r 48000 --format f32 1000"
  "1000_48k_s24 48000 -r 48000 --format s24 1000"
  "1000_96k_s24 96000 -r 96000 --format s24 1000"
  "11025_s16 44100 11025"
  "11025_f32 44100 --format f32 11025"
  "440_f32 44100 --format f32 440"
  "1000_48k_s16_faded 48000 -r 48000 --fade 10ms 1000"
  "440_s16_half 44100 --tone 440:0.5 -"
  "smpte_s16 44100 --tone 60:0.8 --tone 7000:0.2 -"
  "din_48k_s24 48000 -r 48000 --format s24 --tone 250:0.8 --tone 8000:0.2 -"
  "ccif_48k_f32 48000 -r 48000 --format f32 --tone 19000:0.5 --tone 20000:0.5 -"
  "cosine_48k_s16 48000 -r 48000 --phase 90 1000"
  "sweep_48k_s16 48000 -r 48000 --sweep 20:20000 -"
  "sweep_48k_f32 48000 -r 48000 --format f32 --sweep 20:20000 -"
  "linear_48k_s16 48000 -r 48000 --sweep 20:20000:linear -"
  "sweep_inverse_48k 48000 -r 48000 --sweep 20:20000 --inverse /dev/null -"
)

# ns per frame of one run
run() {
  local binary=$1 rate=$2 start end
  shift 2
  start=$EPOCHREALTIME
  if [ "${*: -1}" = - ]; then
    PURETONE_THREADS=1 "$binary" "${@:1:$#-1}" --length "$seconds" /dev/null
  else
    PURETONE_THREADS=1 "$binary" "${@:1:$#-1}" /dev/null "${*: -1}" "$seconds"
  fi
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" -v n="$((rate * seconds))" 'BEGIN { printf "%.4f", (b - a) * 1e9 / n }'
}

declare -A times against
for ((r = 0; r < runs; r++)); do
  for tone in "${tones[@]}"; do
    read -r name rate rest <<<"$tone"
    # shellcheck disable=SC2086 # the options are words
    now=$(run "$puretone" "$rate" $rest)
    times[$name]+="$now "
    if [ -n "$earlier" ] && [ "${rest##* }" != - ] && [[ "$rest" != *--fade* && "$rest" != *--phase* ]]; then
      # shellcheck disable=SC2086
      before=$(run "$earlier" "$rate" $rest)
      against[$name]+="$(awk -v a="$now" -v b="$before" 'BEGIN { printf "%.4f", a / b }') "
    fi
  done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "$seconds s a tone, one thread, to /dev/null; medians of $runs runs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
read -ra base <<<"${times[440_s16]}"
base_median=$(median <<<"${times[440_s16]}")
printf '%-22s %10s %8s %-32s %s\n' tone "ns/frame" ratio "range of the run-by-run ratios" \
  "$([ -n "$earlier" ] && echo "time / earlier's")"
for tone in "${tones[@]}"; do
  read -r name _ <<<"$tone"
  read -ra mine <<<"${times[$name]}"
  ratios=""
  for ((r = 0; r < runs; r++)); do
    ratios+="$(awk -v a="${mine[r]}" -v b="${base[r]}" 'BEGIN { printf "%.3f", a / b }') "
  done
  low=$(tr ' ' '\n' <<<"$ratios" | grep . | sort -g | head -n 1)
  high=$(tr ' ' '\n' <<<"$ratios" | grep . | sort -g | tail -n 1)
  printf '%-22s %10.3f %7.3fx %-32s %s\n' "$name" "$(median <<<"${times[$name]}")" \
    "$(awk -v a="$(median <<<"${times[$name]}")" -v b="$base_median" 'BEGIN { printf "%.4f", a / b }')" "$low to $high" \
    "$([ -n "${against[$name]:-}" ] && median <<<"${against[$name]}")"
done
