#!/bin/sh
# Checks that the constants in sine_kernel.hpp are what sine_kernel.sollya
# prints (fpminimax and supnorm are deterministic for one Sollya version);
# with --write, puts the script's output there.
set -eu
dir=$(dirname "$0")
out=$(mktemp)
trap 'rm -f "$out" "$out.h"' EXIT
sollya "$dir/sine_kernel.sollya" >"$out"
awk -v block="$out" '
  /^\/\/ :sollya$/ { skipping = 0 }
  !skipping { print }
  /^\/\/ sollya: / { while ((getline line < block) > 0) print line; skipping = 1 }
' "$dir/sine_kernel.hpp" >"$out.h"
if [ "${1-}" = --write ]; then
  cp "$out.h" "$dir/sine_kernel.hpp"
elif ! cmp -s "$out.h" "$dir/sine_kernel.hpp"; then
  diff -u "$dir/sine_kernel.hpp" "$out.h" >&2 || true
  echo "check_sine_kernel: sine_kernel.hpp does not hold what sine_kernel.sollya prints" >&2
  exit 1
fi
