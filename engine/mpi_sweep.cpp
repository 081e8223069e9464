// The sweep over MPI ranks: rank 0's scheduler and the worker ranks' loop.
#include "engine/mpi_sweep.h"

#include <sys/resource.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "code/error_pattern_decoder.h"
#include "engine/fast_point_simulator.h"

namespace nbsim {
namespace {

constexpr int tagStart = 1;
constexpr int tagHello = 2;
constexpr int tagRequest = 3;
constexpr int tagResult = 4;
constexpr int tagGone = 5;
constexpr int tagCancel = 6;
constexpr int tagParsed = 7;
constexpr int tagStretch = 8;
constexpr int tagHandOver = 9;
constexpr int tagAssignBase = 100;  // + the thread's number on its rank

void sendWords(MPI_Comm communicator, int rank, int tag, const std::vector<std::int64_t>& words) {
  MPI_Send(words.data(), static_cast<int>(words.size()), MPI_INT64_T, rank, tag, communicator);
}

// The next message from `source` with `tag` (MPI_ANY_SOURCE, MPI_ANY_TAG for any), with its
// status. Waits by probing with short sleeps, not by a blocking receive, whose busy polling would
// take a core from the threads that simulate. Nothing when `wait` is false and none is there.
// `pause` is the sleep between probes.
bool receiveWords(MPI_Comm communicator, int source, int tag, bool wait,
                  std::vector<std::int64_t>& words, MPI_Status& status,
                  std::chrono::microseconds pause = std::chrono::microseconds(200)) {
  for (;;) {
    int arrived = 0;
    MPI_Iprobe(source, tag, communicator, &arrived, &status);
    if (arrived != 0) break;
    if (!wait) return false;
    std::this_thread::sleep_for(pause);
  }
  int count = 0;
  MPI_Get_count(&status, MPI_INT64_T, &count);
  words.assign(static_cast<std::size_t>(std::max(count, 0)), 0);
  MPI_Recv(words.data(), count, MPI_INT64_T, status.MPI_SOURCE, status.MPI_TAG, communicator,
           MPI_STATUS_IGNORE);
  return true;
}

// The processor time of this process, in seconds.
double processSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<std::int64_t> receiveWords(MPI_Comm communicator, int source, int tag,
                                       std::chrono::microseconds pause) {
  std::vector<std::int64_t> words;
  MPI_Status status;
  receiveWords(communicator, source, tag, true, words, status, pause);
  return words;
}

// A worker rank's stretches and its threads' time waiting for work and for their stretches'
// starts, for the report that NBSIM_MPI_TIMES asks for.
struct WaitTimes {
  std::atomic<std::int64_t> stretches{0};
  std::atomic<std::int64_t> nanoseconds{0};
};

// A worker thread waits for its next work from rank 0: a shorter pause, since it has nothing
// else to do.
std::vector<std::int64_t> receiveWork(MPI_Comm communicator, std::int32_t thread,
                                      WaitTimes& times) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::int64_t> words =
      receiveWords(communicator, 0, tagAssignBase + thread, std::chrono::microseconds(20));
  times.nanoseconds +=
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
          .count();
  return words;
}

std::int64_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }
float floatOf(std::int64_t bits) { return std::bit_cast<float>(static_cast<std::uint32_t>(bits)); }

// A stretch of a shared point, as `unit` gives it (see the header); false when this thread is
// leaving: stopped by a signal of its own rank, not by rank 0, or out of memory. Asks for the
// thread's next work once its stretch's start is known (`requested`), so that the work is there
// when the stretch is done.
bool simulateStretch(MPI_Comm communicator, std::int32_t thread, FastPointSimulator& simulator,
                     const std::vector<std::int64_t>& unit, const StopRequest& stop,
                     const std::atomic<bool>& cancelled, FastPointSimulator::StretchBlocks& blocks,
                     bool& requested, WaitTimes& times) {
  ++times.stretches;
  const std::int64_t index = unit[0];
  const std::int64_t stretch = unit[2];
  std::int64_t start = unit[6];
  std::int64_t symbol = unit[7];
  try {
    const FastPointSimulator::StretchParse parse =
        simulator.makeStretch(floatOf(unit[1]), unit[3], unit[4]);
    // Rank 0 chains every stretch's parse; a thread that was not told where its stretch starts
    // waits for that.
    const bool told = start >= 0;
    sendWords(communicator, 0, tagParsed,
              {thread, index, stretch, told ? 0 : 1, parse.symbols[0], parse.next[0],
               parse.symbols[1], parse.next[1]});
    if (!told) {
      const std::vector<std::int64_t> aligned = receiveWork(communicator, thread, times);
      if (aligned.size() != 2 || aligned[0] < 0) return true;  // not wanted any more
      start = aligned[0];
      symbol = aligned[1];
    }
    sendWords(communicator, 0, tagRequest, {thread});
    requested = true;
    simulator.decodeStretch(static_cast<std::int32_t>(start), symbol, unit[5], stop, blocks);
  } catch (const std::exception&) {
    sendWords(communicator, 0, tagStretch, {thread, index, stretch, 0});
    return false;
  }
  std::vector<std::int64_t> words{
      thread,          index,
      stretch,         blocks.givenUp ? 0 : 1,
      blocks.nextDraw, static_cast<std::int64_t>(blocks.wrongBlocks.size())};
  for (const auto& [block, wrong] : blocks.wrongBlocks) {
    words.push_back(block);
    words.push_back(wrong);
  }
  const std::vector<std::int64_t> point = encodePoint(blocks.result);
  words.insert(words.end(), point.begin(), point.end());
  sendWords(communicator, 0, tagStretch, words);
  return !blocks.givenUp || cancelled.load();
}

// Gives work that a leaving thread was assigned back to rank 0, unstarted.
void giveBack(MPI_Comm communicator, std::int32_t thread,
              const std::vector<std::int64_t>& assigned) {
  if (assigned.size() == 8) {
    sendWords(communicator, 0, tagStretch, {thread, assigned[0], assigned[2], 0});
  } else if (assigned.size() == 2 && assigned[0] >= 0) {
    sendWords(communicator, 0, tagResult, {thread, assigned[0], 0});
  }
}

// One worker thread: asks rank 0 for work, does it and sends the result back, until rank 0 has
// no more work or this rank's own signal stops it. Its points are published to `slot`, through
// which rank 0 asks for one to be handed over.
void simulatePoints(MPI_Comm communicator, std::int32_t thread, PointSimulator& simulator,
                    PointProgress& slot, const StopRequest& stop,
                    const std::atomic<bool>& cancelled, WaitTimes& times) {
  auto* const stretches = dynamic_cast<FastPointSimulator*>(&simulator);
  FastPointSimulator::StretchBlocks blocks;
  PointResult result;
  bool requested = false;
  const auto leave = [&] {
    if (requested) giveBack(communicator, thread, receiveWork(communicator, thread, times));
    sendWords(communicator, 0, tagGone, {thread});
  };
  for (;;) {
    if (!requested) sendWords(communicator, 0, tagRequest, {thread});
    requested = false;
    const std::vector<std::int64_t> assigned = receiveWork(communicator, thread, times);
    if (assigned.size() == 8) {
      if (stretches == nullptr) {
        giveBack(communicator, thread, assigned);  // cannot: this rank has no fast path
      } else if (simulateStretch(communicator, thread, *stretches, assigned, stop, cancelled,
                                 blocks, requested, times)) {
        continue;
      }
      leave();
      return;
    }
    if (assigned.size() != 2 || assigned[0] < 0) {
      sendWords(communicator, 0, tagGone, {thread});  // no more work
      return;
    }
    const std::int64_t index = assigned[0];
    slot.start(index, floatOf(assigned[1]), 0);
    std::int64_t status = 0;  // stopped
    bool leaving = false;
    try {
      status = simulator.simulate(floatOf(assigned[1]), result, stop, &slot) ? 1 : 0;
    } catch (const std::exception&) {
      leaving = true;  // rank 0 hands the point to another thread
    }
    std::vector<std::int64_t> words{thread, index, status};
    if (status == 1) {
      const std::vector<std::int64_t> point = encodePoint(result);
      words.insert(words.end(), point.begin(), point.end());
    } else if (!leaving && slot.handingOver()) {
      const auto kept = slot.keptState();
      if (kept && kept->first == index) {
        words[2] = status = 2;
        words.push_back(kept->second.nextDraw);
        const std::vector<std::int64_t> point = encodePoint(kept->second.result);
        words.insert(words.end(), point.begin(), point.end());
      }
    }
    sendWords(communicator, 0, tagResult, words);
    // Stopped by a signal of this rank's own, not by rank 0: this thread is done.
    leaving = leaving || (status == 0 && !cancelled.load() && !slot.handingOver());
    if (leaving) {
      leave();
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
                           const SweepPoints& points, const StopRequest& stop,
                           const MpiOptions& options)
    : communicator_(communicator),
      ranks_(ranks),
      stop_(stop),
      points_(points),
      limits_{parameters.volume, parameters.minBlockErr},
      infoPerBlock_(static_cast<std::int64_t>(codec.nk()) * codec.blockLength()),
      symbolsPerBlock_(static_cast<std::int64_t>(codec.nk() + codec.nr()) * codec.blockLength()),
      itert_(codec.itert()),
      options_(options),
      startSeconds_(processSeconds()),
      sharing_(ErrorPatternDecoder::supports(codec)) {
  options_.stretchDraws = std::max<std::int64_t>(options_.stretchDraws, 1);
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
  }
  idle_.clear();
  for (auto& [index, point] : shared_) {
    for (const auto& [stretch, worker] : point.waiting) {
      sendWords(communicator_, worker.rank, tagAssignBase + worker.thread, {-1, 0});
    }
  }
  // Every thread is told that no work is left when it asks, and says it is gone as it ends,
  // after everything else it sends: so every message is received before this returns (a large
  // one waits for its receiver). Results that come back now are of no use, and threads waiting
  // for a stretch's start are told to drop it.
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
    } else if (status.MPI_TAG == tagParsed && words.size() >= 4 && words[3] == 1) {
      sendWords(communicator_, status.MPI_SOURCE, tagAssignBase + static_cast<int>(words[0]),
                {-1, 0});
    } else if (status.MPI_TAG == tagGone) {
      ++ended_;
    }
  }
  if (options_.reportTimes) {
    const double seconds = processSeconds() - startSeconds_;
    std::fprintf(stderr,
                 "nbsim-mpi rank 0: %lld stretches handed out; %.3f s of processor time from the "
                 "run's start (%.1f us a stretch)\n",
                 static_cast<long long>(stretches_), seconds,
                 1e6 * seconds / static_cast<double>(std::max<std::int64_t>(stretches_, 1)));
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
    // Messages come in bursts while stretches go round: the pause between looks stays short
    // then, and grows to 200 us while none comes, so that an idle rank 0 takes little of a
    // core that simulating ranks may share.
    if (serve(false)) {
      idlePause_ = std::chrono::microseconds(20);
    } else {
      assign();  // a hand-over asked for may be due again
      std::this_thread::sleep_for(idlePause_);
      idlePause_ = std::min(2 * idlePause_, std::chrono::microseconds(200));
    }
  }
}

bool MpiScheduler::serve(bool wait) {
  std::vector<std::int64_t> words;
  MPI_Status status;
  if (!receiveWords(communicator_, MPI_ANY_SOURCE, MPI_ANY_TAG, wait, words, status)) {
    return false;
  }
  const std::int32_t rank = status.MPI_SOURCE;
  const Worker worker{rank, words.empty() ? -1 : static_cast<std::int32_t>(words[0])};
  if (status.MPI_TAG == tagHello && !words.empty()) {
    threads_ += words[0];
    sharing_ = sharing_ && words.size() >= 2 && words[1] == 1;
    ++helloes_;
  } else if (status.MPI_TAG == tagRequest && !words.empty()) {
    idle_.push_back(worker);
  } else if (status.MPI_TAG == tagResult && words.size() >= 3) {
    const auto running = running_.find(words[1]);
    if (running != running_.end()) {
      PointResult point;
      // A result that does not read is a rank of another build: running the point again
      // would give the same.
      const auto unreadable = [rank] {
        return std::runtime_error("rank " + std::to_string(rank) +
                                  " sent a result that cannot be read");
      };
      if (words[2] == 1) {
        if (!decodePoint(words.data() + 3, words.size() - 3, point)) throw unreadable();
        finished_.emplace(words[1], std::move(point));
      } else if (words[2] == 2) {
        if (words.size() < 4 || !decodePoint(words.data() + 4, words.size() - 4, point)) {
          throw unreadable();
        }
        share(words[1], running->second.P0, point, words[3]);
      } else {
        again_.emplace(words[1], running->second.P0);
      }
      running_.erase(running);
    }
  } else if (status.MPI_TAG == tagParsed && words.size() == 8) {
    parsed(worker, words);
  } else if (status.MPI_TAG == tagStretch && words.size() >= 4) {
    decoded(worker, words);
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
  // middle goes on from its state in stretches (from its first block, where points cannot be
  // shared).
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
    } else if (assignStretch(worker, true)) {
    } else if (more_ && started_ - taken_ < window) {
      // A point that a resumed run left in the middle goes on from its state in stretches.
      const PointState* from = points_.state(started_);
      if (sharing_ && (options_.shareAll || from)) {
        PointResult start;
        start.stats.reset(itert_);
        share(started_, nextP0_, from ? from->result : start, from ? from->nextDraw : 0);
      } else {
        send(worker, started_, nextP0_);
      }
      ++started_;
      more_ = points_.next(nextP0_);
      passDone();
      if (sharing_ && (options_.shareAll || from) && !assignStretch(worker, false)) continue;
    } else if (!assignStretch(worker, false)) {
      // Nothing to give: the earliest point under way is shared from its next block on, unless
      // one is being handed over already.
      if (!sharing_) return;
      Running* earliest = nullptr;
      std::int64_t earliestIndex = 0;
      // A request can reach a rank before its thread has started the point, and then does
      // nothing: it is sent again after a while.
      const auto now = std::chrono::steady_clock::now();
      for (auto& [index, running] : running_) {
        if (running.handingOver && now - running.askedAt < std::chrono::milliseconds(20)) return;
        if (!earliest) {
          earliest = &running;
          earliestIndex = index;
        }
      }
      if (!earliest) return;
      earliest->handingOver = true;
      earliest->askedAt = now;
      sendWords(communicator_, earliest->owner.rank, tagHandOver,
                {earliest->owner.thread, earliestIndex});
      return;
    }
    idle_.pop_back();
  }
}

void MpiScheduler::send(const Worker& worker, std::int64_t index, float P0) {
  running_[index] = Running{P0, worker, false, {}};
  sendWords(communicator_, worker.rank, tagAssignBase + worker.thread, {index, bitsOf(P0)});
}

bool MpiScheduler::wantsBlock(const PointCounters& counters) const {
  return limits_.minBlockErr > 0 &&
         counters.infoSymbols < static_cast<std::int64_t>(limits_.volume) &&
         counters.blockErrors < limits_.minBlockErr;
}

void MpiScheduler::share(std::int64_t index, float P0, const PointResult& state,
                         std::int64_t nextDraw) {
  Shared& point = shared_[index];
  point.P0 = P0;
  point.result = state;
  point.result.P0 = P0;
  point.firstDraw = nextDraw;
  point.aligned.assign(1, {0, 0});  // the first stretch starts with a block
  const auto volume = static_cast<std::int64_t>(limits_.volume);
  point.blockLimit =
      std::max<std::int64_t>(volume - state.counters.infoSymbols + infoPerBlock_ - 1, 0) /
      infoPerBlock_;
  if (!wantsBlock(state.counters)) commit(index);
}

bool MpiScheduler::assignStretch(const Worker& worker, bool urgentOnly) {
  for (auto& [index, point] : shared_) {
    // The stretch where the point ends, and stretches given back, hold up the point's commit.
    if (point.lastStretch >= 0) {
      if (point.lastHanded) continue;
      point.lastHanded = true;
      sendStretch(worker, index, point, point.lastStretch, point.lastLimit);
      return true;
    }
    if (!point.again.empty()) {
      const std::int64_t stretch = *point.again.begin();
      point.again.erase(point.again.begin());
      sendStretch(worker, index, point, stretch, point.blockLimit);
      return true;
    }
    if (urgentOnly) continue;
    // Stretches enough for the blocks still wanted, as far as the rates so far tell, and no
    // more: blocks decoded past the point's end are lost.
    const PointCounters& counters = point.result.counters;
    double blocks = static_cast<double>(point.blockLimit - point.committedBlocks);
    if (counters.blockErrors > 0) {
      blocks = std::min(blocks, static_cast<double>(limits_.minBlockErr - counters.blockErrors) *
                                    static_cast<double>(counters.blocks) /
                                    static_cast<double>(counters.blockErrors));
    }
    const double drawsPerBlock =
        point.committedBlocks > 0
            ? static_cast<double>(point.committedDraws) / static_cast<double>(point.committedBlocks)
            : static_cast<double>(symbolsPerBlock_);
    const double wanted =
        static_cast<double>(point.committed) + 1 +
        blocks * drawsPerBlock * 1.25 / static_cast<double>(options_.stretchDraws);
    if (point.handed - point.committed < 2 * threads_ + 2 &&
        static_cast<double>(point.handed) < wanted) {
      sendStretch(worker, index, point, point.handed++, point.blockLimit);
      return true;
    }
  }
  return false;
}

void MpiScheduler::sendStretch(const Worker& worker, std::int64_t index, Shared& point,
                               std::int64_t stretch, std::int64_t blockLimit) {
  ++stretches_;
  std::int64_t start = -1;
  std::int64_t symbol = -1;
  if (stretch < static_cast<std::int64_t>(point.aligned.size())) {
    std::tie(start, symbol) = point.aligned[static_cast<std::size_t>(stretch)];
  }
  sendWords(communicator_, worker.rank, tagAssignBase + worker.thread,
            {index, bitsOf(point.P0), stretch, point.firstDraw + stretch * options_.stretchDraws,
             options_.stretchDraws, blockLimit, start, symbol});
}

void MpiScheduler::parsed(const Worker& worker, const std::vector<std::int64_t>& words) {
  const std::int64_t stretch = words[2];
  const bool waits = words[3] == 1;
  const auto point = shared_.find(words[1]);
  if (point == shared_.end() || point->second.lastStretch >= 0) {
    // Not wanted any more: the point is over, or ends in an earlier stretch (whose own thread,
    // told where it starts, does not wait).
    if (waits) sendWords(communicator_, worker.rank, tagAssignBase + worker.thread, {-1, 0});
    return;
  }
  point->second.parsed[stretch] = Parse{{words[4], words[6]}, {words[5], words[7]}};
  if (waits) point->second.waiting[stretch] = worker;
  align(point->second);
}

void MpiScheduler::align(Shared& point) {
  for (;;) {
    const std::size_t last = point.aligned.size() - 1;
    const auto found = point.parsed.find(static_cast<std::int64_t>(last));
    if (found == point.parsed.end()) break;
    const auto [start, symbol] = point.aligned[last];
    const Parse& parse = found->second;
    point.aligned.emplace_back(parse.next[start] - options_.stretchDraws,
                               symbol + parse.symbols[start]);
  }
  point.parsed.erase(point.parsed.begin(),
                     point.parsed.lower_bound(static_cast<std::int64_t>(point.aligned.size()) - 1));
  for (auto waiting = point.waiting.begin();
       waiting != point.waiting.end() &&
       waiting->first < static_cast<std::int64_t>(point.aligned.size());
       waiting = point.waiting.erase(waiting)) {
    const auto [start, symbol] = point.aligned[static_cast<std::size_t>(waiting->first)];
    sendWords(communicator_, waiting->second.rank, tagAssignBase + waiting->second.thread,
              {start, symbol});
  }
}

void MpiScheduler::decoded(const Worker& worker, const std::vector<std::int64_t>& words) {
  const std::int64_t index = words[1];
  const std::int64_t stretch = words[2];
  const auto found = shared_.find(index);
  if (found == shared_.end()) return;
  Shared& point = found->second;
  if (words[3] != 1) {
    // Given up: handed out again. The threads waiting for the start of a later stretch wait for
    // this one's parse, when it has none yet; they drop theirs, to take this one first.
    if (stretch == point.lastStretch) {
      point.lastHanded = false;
      return;
    }
    point.again.insert(stretch);
    if (stretch >= static_cast<std::int64_t>(point.aligned.size()) - 1) {
      for (auto waiting = point.waiting.upper_bound(stretch); waiting != point.waiting.end();
           waiting = point.waiting.erase(waiting)) {
        sendWords(communicator_, waiting->second.rank, tagAssignBase + waiting->second.thread,
                  {-1, 0});
        point.again.insert(waiting->first);
      }
    }
    return;
  }
  Decoded stretchBlocks;
  stretchBlocks.nextDraw = words.size() > 4 ? words[4] : 0;
  const std::size_t pairs =
      words.size() > 5 ? static_cast<std::size_t>(std::max<std::int64_t>(words[5], 0)) : 0;
  if (words.size() < 6 + 2 * pairs ||
      !decodePoint(words.data() + 6 + 2 * pairs, words.size() - 6 - 2 * pairs,
                   stretchBlocks.blocks)) {
    throw std::runtime_error("rank " + std::to_string(worker.rank) +
                             " sent a stretch that cannot be read");
  }
  for (std::size_t k = 0; k < pairs; ++k) {
    stretchBlocks.wrongBlocks.emplace_back(words[6 + 2 * k],
                                           static_cast<std::int32_t>(words[7 + 2 * k]));
  }
  point.decoded[stretch] = std::move(stretchBlocks);
  commit(index);
}

void MpiScheduler::dropWaiting(Shared& point) {
  for (const auto& [stretch, worker] : point.waiting) {
    sendWords(communicator_, worker.rank, tagAssignBase + worker.thread, {-1, 0});
  }
  point.waiting.clear();
}

void MpiScheduler::commit(std::int64_t index) {
  Shared& point = shared_.at(index);
  PointCounters& counters = point.result.counters;
  const auto add = [&](const Decoded& stretch) {
    const PointCounters& more = stretch.blocks.counters;
    counters.add(more);
    point.result.stats.add(stretch.blocks.stats);
    point.committedBlocks += more.blocks;
    if (more.blocks > 0) point.committedDraws = stretch.nextDraw - point.firstDraw;
  };
  while (wantsBlock(counters)) {
    const std::int64_t stretch = point.lastStretch >= 0 ? point.lastStretch : point.committed;
    const auto found = point.decoded.find(stretch);
    if (found == point.decoded.end()) return;
    const Decoded& decoded = found->second;
    const std::int64_t wrongBlocks = limits_.minBlockErr - counters.blockErrors;
    if (point.lastStretch >= 0 || decoded.blocks.counters.blockErrors < wrongBlocks) {
      add(decoded);
    } else {
      // The point ends in this stretch, at the block that brings its block errors to the limit.
      const std::int64_t taken =
          decoded.wrongBlocks.at(static_cast<std::size_t>(wrongBlocks - 1)).first + 1;
      if (taken == decoded.blocks.counters.blocks) {
        add(decoded);
      } else {
        // Its statistics must end there too: the stretch is decoded once more up to that block.
        const std::int64_t symbol = point.aligned.at(static_cast<std::size_t>(stretch)).second;
        point.lastStretch = stretch;
        point.lastLimit = (symbol + symbolsPerBlock_ - 1) / symbolsPerBlock_ + taken;
        point.decoded.clear();
        dropWaiting(point);
        return;
      }
    }
    point.decoded.erase(found);
    ++point.committed;
    if (point.lastStretch >= 0 && wantsBlock(counters)) {
      throw std::runtime_error("a shared point did not end where its stretches said");
    }
  }
  // Done: the threads that wait for a stretch of it drop theirs.
  dropWaiting(point);
  point.result.ser = symbolErrorRate(counters);
  finished_[index] = std::move(point.result);
  shared_.erase(index);
}

void runMpiWorker(MPI_Comm communicator, std::int32_t threads, const std::atomic<int>* interrupt,
                  bool reportTimes) {
  const std::vector<std::int64_t> start =
      receiveWords(communicator, 0, tagStart, std::chrono::microseconds(200));
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
  bool sharing = true;
  for (std::int32_t thread = 0; thread < threads; ++thread) {
    simulator.push_back(simulators.make());
    sharing = sharing && dynamic_cast<FastPointSimulator*>(simulator.back().get()) != nullptr;
  }
  const std::unique_ptr<PointProgress[]> slots(
      new PointProgress[static_cast<std::size_t>(threads)]);

  std::atomic<bool> cancelled{false};
  const StopRequest stop{&cancelled, interrupt};
  WaitTimes times;
  std::vector<std::thread> workers;
  for (std::int32_t thread = 0; thread < threads; ++thread) {
    try {
      workers.emplace_back([&, thread] {
        simulatePoints(communicator, thread, *simulator[thread], slots[thread], stop, cancelled,
                       times);
      });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for: the others do the work
    }
  }
  sendWords(communicator, 0, tagHello,
            {static_cast<std::int64_t>(workers.size()), sharing ? 1 : 0});
  // Until rank 0 cancels, it may ask for a thread's point to be handed over.
  std::vector<std::int64_t> words;
  MPI_Status status;
  for (;;) {
    if (receiveWords(communicator, 0, tagCancel, false, words, status)) break;
    if (receiveWords(communicator, 0, tagHandOver, false, words, status)) {
      PointProgress::Snapshot snapshot;
      if (words.size() == 2 && words[0] >= 0 && words[0] < threads &&
          slots[static_cast<std::size_t>(words[0])].read(words[1], snapshot)) {
        slots[static_cast<std::size_t>(words[0])].requestHandOver();
      }
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  cancelled = true;
  for (std::thread& worker : workers) worker.join();
  if (reportTimes) {
    int rank = 0;
    MPI_Comm_rank(communicator, &rank);
    const std::int64_t stretches = times.stretches;
    const double waited = 1e-9 * static_cast<double>(times.nanoseconds);
    std::fprintf(stderr,
                 "nbsim-mpi rank %d: %lld stretches; %.3f s waiting for work (%.1f us a stretch)\n",
                 rank, static_cast<long long>(stretches), waited,
                 1e6 * waited / static_cast<double>(std::max<std::int64_t>(stretches, 1)));
  }
}

RemoteScheduler mpiScheduler(MPI_Comm communicator, std::int32_t ranks, bool& started,
                             const MpiOptions& options) {
  return [communicator, ranks, &started, options](
             const NonBinaryCodec& codec, const RunParameters& parameters, std::int32_t seed,
             const SweepPoints& points, const StopRequest& stop) {
    started = true;
    return std::make_unique<MpiScheduler>(communicator, ranks, codec, parameters, seed, points,
                                          stop, options);
  };
}

void sendNoRun(MPI_Comm communicator, std::int32_t ranks) {
  for (std::int32_t rank = 1; rank < ranks; ++rank) sendWords(communicator, rank, tagStart, {0});
}

}  // namespace nbsim
