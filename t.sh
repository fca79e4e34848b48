#!/bin/bash
# t.sh NAME CMD... : runs N rounds timing CMD into fresh /dev/shm dir; prints median
N=${N:-11}
name=$1; shift
ts=()
for ((i=0;i<N;i++)); do rm -rf /dev/shm/tt-$name; mkdir /dev/shm/tt-$name
 s=$EPOCHREALTIME; "$@" >/dev/null 2>&1; e=$EPOCHREALTIME
 ts+=($(awk -v a=$s -v b=$e 'BEGIN{printf "%.6f", b-a}')); done
printf '%s\n' "${ts[@]}" | sort -g | awk -v n=$name '{v[NR]=$1} END {printf "%s %.4f\n", n, v[int((NR+1)/2)]}'
