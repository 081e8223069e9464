// The sweep over MPI ranks: rank 0 runs the program (inputs, seed, every output) and hands the
// work out to the threads of the other ranks, which only simulate. Every point restarts from the
// run seed, so a point gives the same counts wherever it runs, and rank 0 hands the points on in
// sweep order: the results are the same bytes as on one process.
//
// A point goes to one thread whole. When a thread asks for work and no point is left to start,
// the earliest point under way is shared: its thread ends it at a block boundary and sends its
// state, and from there the point goes out in stretches of the draw stream, any number at once.
// A thread makes its stretch's draws and parses them from their first draw and from the one
// after (a symbol starts at one of the two); rank 0 chains the parses in order, which tells each
// stretch where its first symbol starts and its number, and so which blocks start in it; the
// thread decodes those and sends their counts. Rank 0 commits the stretches in order under the
// stopping rule; where the point ends inside a stretch, that stretch is decoded once more up to
// the block that ends it, for the statistics of exactly those blocks.
//
// Messages, all arrays of 64-bit integers on MPI_COMM_WORLD:
//   rank 0 -> each rank, once:      start: 0 (no run), or 1 and the run (seed, limits, code)
//   worker rank -> rank 0, once:    hello: its thread count, and 1 when its points can be shared
//   worker thread -> rank 0:        request: the thread's number
//   rank 0 -> worker thread:        assign: point index and P0's bits, or -1 (no more work); or a
//                                   stretch: index, P0's bits, stretch, first draw, draws, block
//                                   limit, its first symbol's start and number (-1: not known)
//   worker thread -> rank 0:        parsed: thread, index, stretch, 1 if it waits for the start,
//                                   symbols and next from either start
//   rank 0 -> worker thread:        aligned: the first symbol's start and number, or -1 (drop it)
//   worker thread -> rank 0:        stretch: thread, index, stretch, 1 (or 0: given up), next
//                                   draw, the blocks in error (count, then block and wrong
//                                   symbols each), the counts as a point's
// A thread asks for its next work as soon as it knows where its stretch starts.
//   worker thread -> rank 0:        result: thread, index, 1 complete (and the point's counts),
//                                   0 stopped, or 2 handed over (the next draw and the counts)
//   rank 0 -> worker rank:          hand over: the thread and its point's index
//   worker thread -> rank 0:        gone: the thread, as it ends (its last message): told that
//                                   no work is left, or stopped by a signal of its own rank
//   rank 0 -> each rank, at the end: cancel (the threads stop within a block)
#pragma once

#include <mpi.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "code/nonbinary_codec.h"
#include "engine/point_result.h"
#include "engine/run_parameters.h"
#include "engine/scheduler.h"
#include "engine/sweep.h"
#include "engine/sweep_points.h"

namespace nbsim {

// A point's result as message words, and back; false when the words are not one.
std::vector<std::int64_t> encodePoint(const PointResult& point);
bool decodePoint(const std::int64_t* words, std::size_t count, PointResult& point);

// The run that every rank simulates: the code, the limits and the seed, as message words, and
// back (the code description and parameters that rebuild the same codec); false when the words
// are not one.
std::vector<std::int64_t> encodeRun(const NonBinaryCodec& codec, const RunParameters& parameters,
                                    std::int32_t seed);
bool decodeRun(const std::vector<std::int64_t>& words, CodeDescription& code,
               RunParameters& parameters, std::int32_t& seed);

// How the ranks share the work.
struct MpiOptions {
  // Draws per stretch of a shared point.
  std::int64_t stretchDraws = std::int64_t{1} << 21;
  // Every point shared from its first block (for tests: many stretches on small runs).
  bool shareAll = false;
  // Each rank tells on the error stream, at the end, what the stretches cost it: rank 0 its
  // processor time, the others their threads' time waiting for work.
  bool reportTimes = false;
};

// Rank 0's side: a scheduler whose points are simulated by the threads of the other ranks.
class MpiScheduler : public Scheduler {
 public:
  // Sends the run to every other rank of `communicator` (of `ranks` ranks).
  MpiScheduler(MPI_Comm communicator, std::int32_t ranks, const NonBinaryCodec& codec,
               const RunParameters& parameters, std::int32_t seed, const SweepPoints& points,
               const StopRequest& stop, const MpiOptions& options = {});
  // Stops every other rank's threads and waits until each has said it is done.
  ~MpiScheduler() override;
  MpiScheduler(const MpiScheduler&) = delete;
  MpiScheduler& operator=(const MpiScheduler&) = delete;

  Take take(std::int64_t index, PointResult& result) override;

 private:
  struct Worker {
    std::int32_t rank;
    std::int32_t thread;
    auto operator<=>(const Worker&) const = default;
  };
  // A point that one thread simulates.
  struct Running {
    float P0;
    Worker owner;
    bool handingOver = false;
    std::chrono::steady_clock::time_point askedAt;  // when the hand-over was asked for
  };
  // What a stretch's thread sent of it.
  struct Parse {
    std::int64_t symbols[2];
    std::int64_t next[2];
  };
  struct Decoded {
    PointResult blocks;
    std::vector<std::pair<std::int64_t, std::int32_t>> wrongBlocks;
    std::int64_t nextDraw;
  };
  // A point shared in stretches, from a block boundary on.
  struct Shared {
    float P0 = 0.0f;
    PointResult result;           // with the stretches committed
    std::int64_t firstDraw = 0;   // where its first stretch starts
    std::int64_t blockLimit = 0;  // blocks from there that the volume allows
    std::int64_t handed = 0;      // stretches handed out: 0 .. handed - 1
    std::int64_t committed = 0;   // stretches committed: 0 .. committed - 1
    std::int64_t committedBlocks = 0;
    std::int64_t committedDraws = 0;  // from firstDraw to the end of the last block committed
    // Each stretch from 0 on, as far as the parses chain: where its first symbol starts, and
    // that symbol's number.
    std::vector<std::pair<std::int64_t, std::int64_t>> aligned;
    std::map<std::int64_t, Parse> parsed;
    std::map<std::int64_t, Worker> waiting;  // threads waiting for their stretch's start
    std::map<std::int64_t, Decoded> decoded;
    std::set<std::int64_t> again;   // stretches to hand out again
    std::int64_t lastStretch = -1;  // the stretch where the point ends, to decode once more
    std::int64_t lastLimit = 0;     // up to this block
    bool lastHanded = false;
  };

  // Receives and handles one message, waiting for it when `wait` is true; false when none came.
  bool serve(bool wait);
  // Gives work to waiting threads while the window allows.
  void assign();
  void send(const Worker& worker, std::int64_t index, float P0);
  // Hands stretch `stretch` of shared point `index` to `worker`, with `blockLimit`.
  void sendStretch(const Worker& worker, std::int64_t index, Shared& point, std::int64_t stretch,
                   std::int64_t blockLimit);
  // A stretch of a shared point for `worker`, when one is wanted; false otherwise.
  // Only a stretch that holds up its point's commit, when `urgentOnly`.
  bool assignStretch(const Worker& worker, bool urgentOnly);
  // Point `index`, which a thread handed over at `nextDraw` with `state`, goes on in stretches.
  void share(std::int64_t index, float P0, const PointResult& state, std::int64_t nextDraw);
  // Handlers of a shared point's messages from `worker`.
  void parsed(const Worker& worker, const std::vector<std::int64_t>& words);
  void decoded(const Worker& worker, const std::vector<std::int64_t>& words);
  // The stretch that `worker` was given is to be handed out again.
  void giveBack(const Worker& worker);
  // Chains the parses of `point` and tells the threads that wait where their stretches start.
  void align(Shared& point);
  // The threads waiting for the start of a stretch of `point` drop it.
  void dropWaiting(Shared& point);
  // Commits the stretches of point `index` in order while they are there.
  void commit(std::int64_t index);
  // Whether `counters` want another block under the stopping rule.
  bool wantsBlock(const PointCounters& counters) const;

  MPI_Comm communicator_;
  std::int32_t ranks_;
  StopRequest stop_;
  SweepPoints points_;
  PointLimits limits_;
  std::int64_t infoPerBlock_;     // information symbols per block
  std::int64_t symbolsPerBlock_;  // and all its symbols
  std::int32_t itert_;
  MpiOptions options_;
  double startSeconds_;         // this process's processor time when the run went out
  std::int64_t stretches_ = 0;  // handed out
  float nextP0_ = 0.0f;
  bool more_ = false;                        // nextP0_ is a point of the sweep
  std::int64_t started_ = 0;                 // points handed out so far (indices 0..started_-1)
  std::int64_t taken_ = 0;                   // points handed on to the sweep
  std::int32_t helloes_ = 0;                 // ranks that have told their thread count
  std::int64_t threads_ = 0;                 // threads on every other rank together
  std::int64_t ended_ = 0;                   // threads that have left
  bool sharing_;                             // the fast path runs: points can be shared
  std::vector<Worker> idle_;                 // threads waiting for work
  std::map<std::int64_t, Running> running_;  // points handed out whole and not yet back
  std::map<std::int64_t, float> again_;      // points whose thread stopped: to hand out again
  std::map<std::int64_t, Shared> shared_;    // points shared in stretches
  std::map<std::int64_t, PointResult> finished_;
  std::chrono::microseconds idlePause_{20};  // between looks for a message, while none comes
};

// A worker rank's side: waits for the run from rank 0, simulates the points it is given on
// `threads` threads until rank 0 cancels, and returns. `interrupt`, when it holds a signal
// number, stops this rank's threads within a block; their points go to other threads.
void runMpiWorker(MPI_Comm communicator, std::int32_t threads, const std::atomic<int>* interrupt,
                  bool reportTimes = false);

// The scheduler maker for rank 0 of `communicator` with `ranks` ranks; `started` becomes true
// once the run was sent to the other ranks.
RemoteScheduler mpiScheduler(MPI_Comm communicator, std::int32_t ranks, bool& started,
                             const MpiOptions& options = {});

// Tells every other rank that no run comes (start-up failed, or the command line asked for no
// run).
void sendNoRun(MPI_Comm communicator, std::int32_t ranks);

}  // namespace nbsim
