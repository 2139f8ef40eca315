#!/usr/bin/env bash
# Times each command, run by bash, once a round, in turn, for ROUNDS rounds,
# so that the machine's drifting load falls on all of them alike. Prints a
# line a command: its median, least and most wall time in ms.
#
#   bench/rounds.sh ROUNDS COMMAND...
set -eu
rounds=$1
shift
declare -a times
for ((round = 0; round < rounds; round++)); do
  for i in $(seq 0 $(($# - 1))); do
    command=${*:i+1:1}
    start=$(date +%s%N)
    bash -c "$command"
    times[i]+="$((($(date +%s%N) - start) / 1000)) "
  done
done
for i in $(seq 0 $(($# - 1))); do
  tr ' ' '\n' <<<"${times[i]}" | grep . | sort -n |
    awk '{ t[NR] = $1 } END { printf "%.1f %.1f %.1f\n", t[int((NR + 1) / 2)] / 1000, t[1] / 1000, t[NR] / 1000 }'
done
