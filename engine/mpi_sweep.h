// The sweep over MPI ranks: rank 0 runs the program (inputs, seed, every output) and hands the
// points out, one at a time, to the threads of the other ranks, which only simulate. Every point
// restarts from the run seed, so a point gives the same counts wherever it runs, and rank 0
// hands them on in sweep order: the results are the same bytes as on one process.
//
// Messages, all arrays of 64-bit integers on MPI_COMM_WORLD:
//   rank 0 -> each rank, once:      start: 0 (no run), or 1 and the run (seed, limits, code)
//   worker rank -> rank 0, once:    hello: its thread count
//   worker thread -> rank 0:        request: the thread's number
//   rank 0 -> worker thread:        assign: point index and P0's bits, or -1 (no more work)
//   worker thread -> rank 0:        result: thread, index, complete or not, the point's counts
//   worker thread -> rank 0:        gone: the thread, stopped by a signal of its own rank
//   rank 0 -> each rank, at the end: cancel (the threads stop within a block)
#pragma once

#include <mpi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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

// Rank 0's side: a scheduler whose points are simulated by the threads of the other ranks.
class MpiScheduler : public Scheduler {
 public:
  // Sends the run to every other rank of `communicator` (of `ranks` ranks).
  MpiScheduler(MPI_Comm communicator, std::int32_t ranks, const NonBinaryCodec& codec,
               const RunParameters& parameters, std::int32_t seed, const SweepPoints& points,
               const StopRequest& stop);
  // Stops every other rank's threads and waits until each has said it is done.
  ~MpiScheduler() override;
  MpiScheduler(const MpiScheduler&) = delete;
  MpiScheduler& operator=(const MpiScheduler&) = delete;

  Take take(std::int64_t index, PointResult& result) override;

 private:
  struct Worker {
    std::int32_t rank;
    std::int32_t thread;
  };
  // Receives and handles one message, waiting for it when `wait` is true; false when none came.
  bool serve(bool wait);
  // Gives work to waiting threads while the window allows.
  void assign();
  void send(const Worker& worker, std::int64_t index, float P0);

  MPI_Comm communicator_;
  std::int32_t ranks_;
  StopRequest stop_;
  SweepPoints points_;
  float nextP0_ = 0.0f;
  bool more_ = false;                      // nextP0_ is a point of the sweep
  std::int64_t started_ = 0;               // points handed out so far (indices 0..started_-1)
  std::int64_t taken_ = 0;                 // points handed on to the sweep
  std::int32_t helloes_ = 0;               // ranks that have told their thread count
  std::int64_t threads_ = 0;               // threads on every other rank together
  std::int64_t ended_ = 0;                 // threads that have left
  std::vector<Worker> idle_;               // threads waiting for work
  std::map<std::int64_t, float> running_;  // points handed out and not yet back
  std::map<std::int64_t, float> again_;    // points whose thread stopped: to hand out again
  std::map<std::int64_t, PointResult> finished_;
};

// A worker rank's side: waits for the run from rank 0, simulates the points it is given on
// `threads` threads until rank 0 cancels, and returns. `interrupt`, when it holds a signal
// number, stops this rank's threads within a block; their points go to other threads.
void runMpiWorker(MPI_Comm communicator, std::int32_t threads, const std::atomic<int>* interrupt);

// The scheduler maker for rank 0 of `communicator` with `ranks` ranks; `started` becomes true
// once the run was sent to the other ranks.
RemoteScheduler mpiScheduler(MPI_Comm communicator, std::int32_t ranks, bool& started);

// Tells every other rank that no run comes (start-up failed, or the command line asked for no
// run).
void sendNoRun(MPI_Comm communicator, std::int32_t ranks);

}  // namespace nbsim
