#!/usr/bin/env bash
# Times whole runs of puretone, sox and ffmpeg writing the same tone (mono,
# 16-bit, 44100 Hz), interleaved so that they share the machine's noise, and
# prints the median ns/sample of each and the ratios. Also times puretone
#  - at 11025 Hz, where half the samples are peaks that the exact path must
#    settle;
#  - at 2147483647 Hz and at 440 Hz over a long tone written to /dev/null,
#    whose angles reach 2.7e14 at 20000 s: far angles against near ones;
#  - when a portable build is at hand (-DPURETONE_VECTOR=OFF), that build
#    at 440 Hz, whose file must be byte-identical;
#  - against the floor: dd copying puretone's finished file to a new file on
#    the same file system (bs=64k), and the long tone to /dev/null on one
#    core (taskset -c 0) against all of them;
#  - when an earlier binary is given, that binary on one core beside this
#    one on one core, the same long tone;
#  - once, after the rounds: the peak resident memory of the longest tone
#    (48695 s) to /dev/null.
#
#   bench/side_by_side.sh [seconds (600)] [runs (5)] [puretone binary (build/puretone)]
#                         [portable binary (build-scalar/puretone, when built)]
#                         [far-angle seconds (20000; 0 skips)] [earlier binary]
#
# sox and ffmpeg are timed when installed. Output goes to /dev/shm when it
# exists, so the disk does not decide the figures.
set -euo pipefail

seconds=${1:-600}
runs=${2:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
puretone=${3:-$here/build/puretone}
[ -x "$puretone" ] || { echo "side_by_side: no binary at $puretone; build first" >&2; exit 1; }
scalar=${4:-$here/build-scalar/puretone}
far_seconds=${5:-20000}
before=${6:-}

scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}" )/puretone_bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
samples=$((seconds * 44100))

declare -A command
command[puretone_440]="$puretone $scratch/p.wav 440 $seconds"
command[puretone_11025]="$puretone $scratch/q.wav 11025 $seconds"
command[dd_copy]="dd if=$scratch/p.wav of=$scratch/d.wav bs=64k status=none"  # p.wav: written just before
names=(puretone_440 dd_copy puretone_11025)
if [ "$far_seconds" -gt 0 ]; then
  command[near_440]="$puretone /dev/null 440 $far_seconds"
  command[far_2147483647]="$puretone /dev/null 2147483647 $far_seconds"
  command[one_core_440]="taskset -c 0 $puretone /dev/null 440 $far_seconds"
  names+=(near_440 far_2147483647 one_core_440)
  if [ -n "$before" ]; then
    command[before_one_core_440]="taskset -c 0 $before /dev/null 440 $far_seconds"
    names+=(before_one_core_440)
  fi
fi
if [ -x "$scalar" ]; then
  command[scalar_440]="$scalar $scratch/c.wav 440 $seconds"
  names+=(scalar_440)
fi
if command -v sox >/dev/null; then
  command[sox_440]="sox -n -r 44100 -c 1 -b 16 -e signed-integer $scratch/s.wav synth $seconds sine 440"
  names+=(sox_440)
fi
if command -v ffmpeg >/dev/null; then
  command[ffmpeg_440]="ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=$seconds -c:a pcm_s16le $scratch/f.wav"
  names+=(ffmpeg_440)
fi

declare -A times
for ((r = 0; r < runs; r++)); do
  for name in "${names[@]}"; do
    start=$EPOCHREALTIME
    ${command[$name]} >/dev/null
    end=$EPOCHREALTIME
    times[$name]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
  done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "$seconds s tone ($far_seconds s for near_, far_ and one_core_), $samples samples, median of $runs whole runs ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
declare -A ns
for name in "${names[@]}"; do
  m=$(echo "${times[$name]}" | median)
  n=$samples
  case $name in near_*|far_*|*one_core_*) n=$((far_seconds * 44100)) ;; esac
  ns[$name]=$(awk -v m="$m" -v n="$n" 'BEGIN { printf "%.2f", m * 1e9 / n }')
  printf '  %-15s %8.3f s  %7s ns/sample\n' "$name" "$m" "${ns[$name]}"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
for other in sox_440 ffmpeg_440; do
  [ -n "${ns[$other]:-}" ] && echo "  ${other%_440} / puretone at 440 Hz: $(ratio "${ns[$other]}" "${ns[puretone_440]}")x"
done
echo "  puretone 11025 Hz / 440 Hz: $(ratio "${ns[puretone_11025]}" "${ns[puretone_440]}")x"
echo "  puretone 440 Hz / dd copying its file: $(ratio "${ns[puretone_440]}" "${ns[dd_copy]}")x"
if [ -n "${ns[one_core_440]:-}" ]; then
  echo "  puretone $far_seconds s to /dev/null, one core / all $(nproc): $(ratio "${ns[one_core_440]}" "${ns[near_440]}")x"
  [ -n "${ns[before_one_core_440]:-}" ] &&
    echo "  on one core, this / the earlier binary: $(ratio "${ns[one_core_440]}" "${ns[before_one_core_440]}")x"
fi
[ -n "${ns[far_2147483647]:-}" ] &&
  echo "  puretone $far_seconds s to /dev/null, 2147483647 Hz / 440 Hz: $(ratio "${ns[far_2147483647]}" "${ns[near_440]}")x"
if [ -n "${ns[scalar_440]:-}" ]; then
  echo "  portable / puretone at 440 Hz: $(ratio "${ns[scalar_440]}" "${ns[puretone_440]}")x"
  cmp -s "$scratch/p.wav" "$scratch/c.wav" || { echo "side_by_side: the portable build wrote different bytes" >&2; exit 1; }
fi
rss=$(/usr/bin/time -f %M "$puretone" /dev/null 440 48695 2>&1 >/dev/null | tail -n 1)
echo "  peak resident memory, 48695 s to /dev/null: $rss KiB"
