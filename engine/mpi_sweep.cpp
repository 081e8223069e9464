// The sweep over MPI ranks: rank 0's scheduler and the worker ranks' loop.
#include "engine/mpi_sweep.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace nbsim {
namespace {

constexpr int tagStart = 1;
constexpr int tagHello = 2;
constexpr int tagRequest = 3;
constexpr int tagResult = 4;
constexpr int tagGone = 5;
constexpr int tagCancel = 6;
constexpr int tagAssignBase = 100;  // + the thread's number on its rank

void sendWords(MPI_Comm communicator, int rank, int tag, const std::vector<std::int64_t>& words) {
  MPI_Send(words.data(), static_cast<int>(words.size()), MPI_INT64_T, rank, tag, communicator);
}

// The next message from `source` with `tag` (MPI_ANY_SOURCE, MPI_ANY_TAG for any), with its
// status. Waits by probing with short sleeps, not by a blocking receive, whose busy polling would
// take a core from the threads that simulate. Nothing when `wait` is false and none is there.
bool receiveWords(MPI_Comm communicator, int source, int tag, bool wait,
                  std::vector<std::int64_t>& words, MPI_Status& status) {
  for (;;) {
    int arrived = 0;
    MPI_Iprobe(source, tag, communicator, &arrived, &status);
    if (arrived != 0) break;
    if (!wait) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  int count = 0;
  MPI_Get_count(&status, MPI_INT64_T, &count);
  words.assign(static_cast<std::size_t>(std::max(count, 0)), 0);
  MPI_Recv(words.data(), count, MPI_INT64_T, status.MPI_SOURCE, status.MPI_TAG, communicator,
           MPI_STATUS_IGNORE);
  return true;
}

std::vector<std::int64_t> receiveWords(MPI_Comm communicator, int source, int tag) {
  std::vector<std::int64_t> words;
  MPI_Status status;
  receiveWords(communicator, source, tag, true, words, status);
  return words;
}

std::int64_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }
float floatOf(std::int64_t bits) { return std::bit_cast<float>(static_cast<std::uint32_t>(bits)); }

// One worker thread: asks rank 0 for a point, simulates it and sends the result back, until rank
// 0 has no more work or this rank's own signal stops it.
void simulatePoints(MPI_Comm communicator, std::int32_t thread, PointSimulator& simulator,
                    const StopRequest& stop, const std::atomic<bool>& cancelled) {
  PointResult result;
  for (;;) {
    sendWords(communicator, 0, tagRequest, {thread});
    const std::vector<std::int64_t> assigned =
        receiveWords(communicator, 0, tagAssignBase + thread);
    if (assigned.size() != 2 || assigned[0] < 0) return;
    bool complete = false;
    bool leaving = false;
    try {
      complete = simulator.simulate(floatOf(assigned[1]), result, stop);
    } catch (const std::exception&) {
      leaving = true;  // rank 0 hands the point to another thread
    }
    std::vector<std::int64_t> words{thread, assigned[0], complete ? 1 : 0};
    if (complete) {
      const std::vector<std::int64_t> point = encodePoint(result);
      words.insert(words.end(), point.begin(), point.end());
    }
    sendWords(communicator, 0, tagResult, words);
    // Stopped by a signal of this rank's own, not by rank 0: this thread is done.
    leaving = leaving || (!complete && !cancelled.load());
    if (leaving) {
      sendWords(communicator, 0, tagGone, {thread});
      return;
    }
  }
}

}  // namespace

// Every counter travels: a counter added to PointCounters must be added here and fails this
// until it is.
static_assert(sizeof(PointCounters) == 5 * sizeof(std::int64_t));

std::vector<std::int64_t> encodePoint(const PointResult& point) {
  const PointCounters& counters = point.counters;
  std::vector<std::int64_t> words{bitsOf(point.P0),
                                  counters.blocks,
                                  counters.blockErrors,
                                  counters.infoSymbols,
                                  counters.symbolErrors,
                                  counters.squaredSymbolErrors,
                                  std::bit_cast<std::int64_t>(point.ser),
                                  point.stats.decodedSymbols,
                                  static_cast<std::int64_t>(point.stats.errors.size())};
  words.insert(words.end(), point.stats.errors.begin(), point.stats.errors.end());
  return words;
}

bool decodePoint(const std::int64_t* words, std::size_t count, PointResult& point) {
  constexpr std::size_t fixed = 9;
  if (count < fixed || words[8] < 0 || count - fixed != static_cast<std::size_t>(words[8])) {
    return false;
  }
  point.P0 = floatOf(words[0]);
  point.counters.blocks = words[1];
  point.counters.blockErrors = static_cast<std::int32_t>(words[2]);
  point.counters.infoSymbols = words[3];
  point.counters.symbolErrors = words[4];
  point.counters.squaredSymbolErrors = words[5];
  point.ser = std::bit_cast<double>(words[6]);
  point.stats.decodedSymbols = words[7];
  point.stats.errors.assign(words + fixed, words + count);
  return true;
}

std::vector<std::int64_t> encodeRun(const NonBinaryCodec& codec, const RunParameters& parameters,
                                    std::int32_t seed) {
  std::vector<std::int64_t> words{seed,
                                  parameters.Q,
                                  parameters.itert,
                                  static_cast<std::int64_t>(parameters.volume),
                                  parameters.minBlockErr,
                                  codec.nk(),
                                  codec.nr()};
  for (std::int32_t v = 0; v < codec.nr(); ++v) {
    for (std::int32_t i = 0; i < codec.nk(); ++i) {
      const std::vector<std::int32_t>& taps = codec.taps(i, v);
      words.push_back(static_cast<std::int64_t>(taps.size()));
      words.insert(words.end(), taps.begin(), taps.end());
    }
  }
  return words;
}

bool decodeRun(const std::vector<std::int64_t>& words, CodeDescription& code,
               RunParameters& parameters, std::int32_t& seed) {
  if (words.size() < 7) return false;
  seed = static_cast<std::int32_t>(words[0]);
  parameters.Q = static_cast<std::int32_t>(words[1]);
  parameters.itert = static_cast<std::int32_t>(words[2]);
  parameters.volume = static_cast<std::uint64_t>(words[3]);
  parameters.minBlockErr = static_cast<std::int32_t>(words[4]);
  code = CodeDescription{};
  if (words[5] < 1 || words[5] > CodeDescription::maxUsedBranches || words[6] < 1 ||
      words[6] > CodeDescription::maxUsedBranches) {
    return false;
  }
  code.nk = static_cast<std::int32_t>(words[5]);
  code.nr = static_cast<std::int32_t>(words[6]);
  std::size_t at = 7;
  for (std::int32_t v = 0; v < code.nr; ++v) {
    for (std::int32_t i = 0; i < code.nk; ++i) {
      if (at >= words.size() || words[at] < 0 ||
          static_cast<std::size_t>(words[at]) > words.size() - at - 1) {
        return false;
      }
      const auto count = static_cast<std::size_t>(words[at++]);
      code.polynomials[i][v].taps.assign(words.begin() + static_cast<std::ptrdiff_t>(at),
                                         words.begin() + static_cast<std::ptrdiff_t>(at + count));
      at += count;
    }
  }
  return at == words.size();
}

MpiScheduler::MpiScheduler(MPI_Comm communicator, std::int32_t ranks, const NonBinaryCodec& codec,
                           const RunParameters& parameters, std::int32_t seed,
                           const SweepPoints& points, const StopRequest& stop)
    : communicator_(communicator), ranks_(ranks), stop_(stop), points_(points) {
  more_ = points_.next(nextP0_);
  std::vector<std::int64_t> start{1};
  const std::vector<std::int64_t> run = encodeRun(codec, parameters, seed);
  start.insert(start.end(), run.begin(), run.end());
  for (std::int32_t rank = 1; rank < ranks_; ++rank) {
    sendWords(communicator_, rank, tagStart, start);
  }
}

MpiScheduler::~MpiScheduler() {
  for (std::int32_t rank = 1; rank < ranks_; ++rank) sendWords(communicator_, rank, tagCancel, {});
  for (const Worker& worker : idle_) {
    sendWords(communicator_, worker.rank, tagAssignBase + worker.thread, {-1, 0});
    ++ended_;
  }
  idle_.clear();
  // Every thread either asks once more (and is told that no work is left) or says it is gone;
  // results that come back now are of no use.
  std::vector<std::int64_t> words;
  MPI_Status status;
  while (helloes_ < ranks_ - 1 || ended_ < threads_) {
    receiveWords(communicator_, MPI_ANY_SOURCE, MPI_ANY_TAG, true, words, status);
    if (status.MPI_TAG == tagHello && !words.empty()) {
      threads_ += words[0];
      ++helloes_;
    } else if (status.MPI_TAG == tagRequest && !words.empty()) {
      sendWords(communicator_, status.MPI_SOURCE, tagAssignBase + static_cast<int>(words[0]),
                {-1, 0});
      ++ended_;
    } else if (status.MPI_TAG == tagGone) {
      ++ended_;
    }
  }
}

Scheduler::Take MpiScheduler::take(std::int64_t index, PointResult& result) {
  for (;;) {
    const auto found = finished_.find(index);
    if (found != finished_.end()) {
      result = std::move(found->second);
      finished_.erase(found);
      taken_ = index + 1;
      assign();
      return Take::point;
    }
    if (index >= started_ && !more_) return Take::end;
    if (stop_.raised()) return Take::stopped;
    if (helloes_ == ranks_ - 1 && ended_ == threads_) {
      throw std::runtime_error("every simulating rank stopped before the sweep was complete");
    }
    // The stop request is looked at between messages: a signal to this rank alone must not
    // wait for the next result of a long point.
    if (!serve(false)) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

bool MpiScheduler::serve(bool wait) {
  std::vector<std::int64_t> words;
  MPI_Status status;
  if (!receiveWords(communicator_, MPI_ANY_SOURCE, MPI_ANY_TAG, wait, words, status)) {
    return false;
  }
  const std::int32_t rank = status.MPI_SOURCE;
  if (status.MPI_TAG == tagHello && !words.empty()) {
    threads_ += words[0];
    ++helloes_;
  } else if (status.MPI_TAG == tagRequest && !words.empty()) {
    idle_.push_back(Worker{rank, static_cast<std::int32_t>(words[0])});
  } else if (status.MPI_TAG == tagResult && words.size() >= 3) {
    const auto running = running_.find(words[1]);
    if (running != running_.end()) {
      PointResult point;
      if (words[2] == 1) {
        // A result that does not read is a rank of another build: running the point again
        // would give the same.
        if (!decodePoint(words.data() + 3, words.size() - 3, point)) {
          throw std::runtime_error("rank " + std::to_string(rank) +
                                   " sent a result that cannot be read");
        }
        finished_.emplace(words[1], std::move(point));
      } else {
        again_.emplace(words[1], running->second);
      }
      running_.erase(running);
    }
  } else if (status.MPI_TAG == tagGone) {
    ++ended_;
  }
  assign();
  return true;
}

void MpiScheduler::assign() {
  // Enough points ahead of the next one to hand on to keep every thread busy past a slow point,
  // few enough to bound the results held.
  const std::int64_t window =
      ThreadScheduler::pointsPerThreadAhead * std::max<std::int64_t>(threads_, 1);
  // The points that a resumed run has done already are not simulated again; one cut in the
  // middle starts again from its first block on the rank that gets it.
  const auto passDone = [&] {
    for (const PointState* known = points_.state(started_);
         more_ && started_ - taken_ < window && known && known->done;
         known = points_.state(started_)) {
      finished_.emplace(started_, known->result);
      ++started_;
      more_ = points_.next(nextP0_);
    }
  };
  passDone();
  while (!idle_.empty()) {
    const Worker worker = idle_.back();
    if (!again_.empty()) {
      const auto [index, P0] = *again_.begin();
      again_.erase(again_.begin());
      send(worker, index, P0);
    } else if (more_ && started_ - taken_ < window) {
      send(worker, started_, nextP0_);
      ++started_;
      more_ = points_.next(nextP0_);
      passDone();
    } else {
      return;
    }
    idle_.pop_back();
  }
}

void MpiScheduler::send(const Worker& worker, std::int64_t index, float P0) {
  running_[index] = P0;
  sendWords(communicator_, worker.rank, tagAssignBase + worker.thread, {index, bitsOf(P0)});
}

void runMpiWorker(MPI_Comm communicator, std::int32_t threads, const std::atomic<int>* interrupt) {
  const std::vector<std::int64_t> start = receiveWords(communicator, 0, tagStart);
  if (start.empty() || start[0] != 1) return;
  CodeDescription code;
  RunParameters parameters;
  std::int32_t seed = 0;
  if (!decodeRun(std::vector<std::int64_t>(start.begin() + 1, start.end()), code, parameters,
                 seed)) {
    throw std::runtime_error("the run that rank 0 sent cannot be read");
  }
  const NonBinaryCodec codec(code, parameters.Q, parameters.itert);
  SweepOptions options;
  options.threads = threads;
  PointSimulators simulators(codec, parameters, seed, options);
  std::vector<std::unique_ptr<PointSimulator>> simulator;
  for (std::int32_t thread = 0; thread < threads; ++thread) simulator.push_back(simulators.make());

  std::atomic<bool> cancelled{false};
  const StopRequest stop{&cancelled, interrupt};
  std::vector<std::thread> workers;
  for (std::int32_t thread = 0; thread < threads; ++thread) {
    try {
      workers.emplace_back([&, thread] {
        simulatePoints(communicator, thread, *simulator[thread], stop, cancelled);
      });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for: the others do the work
    }
  }
  sendWords(communicator, 0, tagHello, {static_cast<std::int64_t>(workers.size())});
  receiveWords(communicator, 0, tagCancel);
  cancelled = true;
  for (std::thread& worker : workers) worker.join();
}

RemoteScheduler mpiScheduler(MPI_Comm communicator, std::int32_t ranks, bool& started) {
  return [communicator, ranks, &started](const NonBinaryCodec& codec,
                                         const RunParameters& parameters, std::int32_t seed,
                                         const SweepPoints& points, const StopRequest& stop) {
    started = true;
    return std::make_unique<MpiScheduler>(communicator, ranks, codec, parameters, seed, points,
                                          stop);
  };
}

void sendNoRun(MPI_Comm communicator, std::int32_t ranks) {
  for (std::int32_t rank = 1; rank < ranks; ++rank) sendWords(communicator, rank, tagStart, {0});
}

}  // namespace nbsim
