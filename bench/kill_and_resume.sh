#!/bin/bash
# Kill-and-resume on the bundled example (volume raised so that the run lasts ~30 s): ten SIGKILLs
# at random moments, a resume after each, then the bytes against a run never killed. Prints the
# work lost per kill: the sitting's wall time less what the checkpoint gained. Usage:
# bench/kill_and_resume.sh [build/nbsim]
set -u
B=$(realpath "${1:-build/nbsim}")
EXAMPLE=$(realpath "$(dirname "$0")/../examples/default")
D=$(mktemp -d); R=$(mktemp -d)
for d in $D $R; do cp $EXAMPLE/*.txt $d; sed -i 's/^volume=.*/volume=30000000/' $d/param.txt; done
t0=$(date +%s%N); (cd $R && $B --no-wait --seed 1234 --threads 2 >/dev/null); t1=$(date +%s%N)
echo "uninterrupted: $(( (t1-t0)/1000000 )) ms"
elapsedOf() { python3 -c "import json,sys;print(json.load(open('$1'))['run']['elapsedMilliseconds'])" 2>/dev/null || echo 0; }
RANDOM=7
for i in $(seq 10); do
  before=$( [ -f $D/nbsim.checkpoint ] && elapsedOf $D/nbsim.checkpoint || echo 0)
  if [ -f $D/nbsim.checkpoint ]; then args="--resume"; else args="--seed 1234"; fi
  wait_ms=$(( 500 + RANDOM % 2500 ))
  s=$(date +%s%N)
  (cd $D && exec $B --no-wait $args --threads $((1 + RANDOM % 2)) >/dev/null 2>&1) & pid=$!
  sleep $(python3 -c "print($wait_ms/1000)"); if kill -9 $pid 2>/dev/null; then killed=yes; else killed=no; fi; wait $pid 2>/dev/null
  e=$(date +%s%N)
  after=$(elapsedOf $D/nbsim.checkpoint)
  [ $killed = no ] && { echo "kill $i: the run had ended"; continue; }
  echo "kill $i after $(( (e-s)/1000000 )) ms ($args): checkpoint gained $((after-before)) ms, lost $(( (e-s)/1000000 - (after-before) )) ms; size $(stat -c %s $D/nbsim.checkpoint) bytes"
done
(cd $D && $B --no-wait --resume >/dev/null)
for f in result.txt result.csv result.svg; do cmp $D/$f $R/$f && echo "$f identical"; done
rm -rf $D $R
