#!/bin/bash
# The two long points of split_point through the real programs: nbsim on 1 and 2 threads,
# nbsim-mpi on 2 ranks (one simulating, 2 threads) and 3 ranks (two simulating, 1 thread each).
# Checks that every report is the same bytes and prints the times and speed-ups. Then what a
# stretch of a shared point costs rank 0 and the simulating ranks, and the projection to 16 and
# 64 ranks that follows (bench/split_point). Usage:
#   bench/split_point_ranks.sh [build] [volume at P0 = 0.02 (default 200000000)]
set -u
B=$(realpath "${1:-build}")
VOLUME=${2:-200000000}
CODE=$(realpath "$(dirname "$0")/../examples/default/encoder.txt")
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
MPIRUN="mpirun --oversubscribe --bind-to none -np"
D=$(mktemp -d)
# seconds of one run in $D: "label" command...
run() {
  local label=$1; shift
  rm -f $D/result.txt $D/nbsim.lock $D/nbsim.checkpoint
  local s=$(date +%s%N)
  (cd $D && "$@" --no-wait --seed 2026 >/dev/null 2>$D/errors) || { echo "$label failed"; cat $D/errors; }
  local e=$(date +%s%N)
  echo "scale=3; ($e - $s) / 1000000000" | bc
}
point() {  # P0 volume minBlockErr
  printf 'Q=256\nP0_first=%s\nP0_last=%s\nP0_step=0.01\nvolume=%s\nminBlockErr=%s\nitert=10\n' \
    "$1" "$1" "$2" "$3" >$D/param.txt
  cp $CODE $D/encoder.txt
}
for case in "0.02 $VOLUME 2000000000" "0.1 2000000000 $((VOLUME / 2000))"; do
  set -- $case
  point "$1" "$2" "$3"
  echo "== P0 = $1, volume = $2, minBlockErr = $3"
  t1=$(run "1 thread" $B/nbsim --threads 1); cp $D/result.txt $D/expected.txt
  t2=$(run "2 threads" $B/nbsim --threads 2); cmp -s $D/result.txt $D/expected.txt || echo "2 threads: DIFFERENT"
  r2=$(run "2 ranks" $MPIRUN 2 $B/nbsim-mpi --threads 2); cmp -s $D/result.txt $D/expected.txt || echo "2 ranks: DIFFERENT"
  r3=$(run "3 ranks" $MPIRUN 3 $B/nbsim-mpi --threads 1); cmp -s $D/result.txt $D/expected.txt || echo "3 ranks: DIFFERENT"
  echo "1 thread $t1 s; 2 threads $t2 s ($(echo "scale=2; $t1 / $t2" | bc)x);" \
       "2 ranks x 2 threads $r2 s ($(echo "scale=2; $t1 / $r2" | bc)x);" \
       "3 ranks x 1 thread $r3 s ($(echo "scale=2; $t1 / $r3" | bc)x); reports identical unless said"
done
# What the stretches cost, from the point at P0 = 0.02 shared from its first block on 2 ranks
# (rank 0 and one simulating rank of one thread, a core each), as the ranks tell it
# (NBSIM_MPI_TIMES): in default stretches, the simulating rank's waiting for work and for its
# stretches' starts; in stretches of 65536 draws, rank 0's processor time per stretch (with its
# looks for messages while it waits, so at most). With a stretch's cost beyond its blocks,
# measured in one process, they give the projection to 16 and 64 ranks (bench/split_point).
point 0.02 "$VOLUME" 2000000000
run "1 thread" $B/nbsim --threads 1 >/dev/null; cp $D/result.txt $D/expected.txt
told() {  # rank: the "us a stretch" that the rank told
  sed -n "s/^nbsim-mpi rank $1: .*(\\([0-9.]*\\) us a stretch)\$/\\1/p" $D/errors
}
for stretch in 2097152 65536; do
  NBSIM_MPI_TIMES=1 NBSIM_SHARE_ALL=1 NBSIM_STRETCH_DRAWS=$stretch run "stretches of $stretch" \
    $MPIRUN 2 $B/nbsim-mpi --threads 1 >/dev/null
  cmp -s $D/result.txt $D/expected.txt || echo "stretches of $stretch: DIFFERENT"
  echo "stretches of $stretch draws on 2 ranks:"; sed 's/^/  /' $D/errors
  if [ $stretch = 2097152 ]; then waiting=$(told 1); else rank0=$(told 0); fi
done
$B/bench/split_point --stretch-us "$waiting" --rank0-us "$rank0" | grep -v "^ *[0-9]* threads\|^ *stretches [0-9]*,"
rm -rf $D
