// The channel generator's output stream for one seed, shared by every point of a run. Each point
// restarts the generator from the same seed, so each reads the same stream of draws: it is
// generated once, in chunks as far as any point needs it, up to a cap that bounds the memory;
// a point that reads beyond the cap continues with a generator of its own.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "channel/shift_xor_generator.h"

namespace nbsim {

class DrawStreamCache {
 public:
  // The default cap: 128 chunks of 65536 draws, 32 MiB.
  static constexpr std::size_t defaultChunkSize = std::size_t{1} << 16;
  static constexpr std::size_t defaultChunkCount = 128;

  // The stream of ShiftXorGenerator::init(seed); `chunkSize` >= 1 draws per chunk, at most
  // `chunkCount` chunks kept (0: none, every point generates live); chunks and the cursors' live
  // draws are made by `variant` at most (a narrower variant where the length asks for it).
  explicit DrawStreamCache(std::int32_t seed, std::size_t chunkSize = defaultChunkSize,
                           std::size_t chunkCount = defaultChunkCount,
                           DrawVariant variant = chosenDrawVariant());

  DrawStreamCache(const DrawStreamCache&) = delete;
  DrawStreamCache& operator=(const DrawStreamCache&) = delete;

  std::size_t chunkSize() const { return chunkSize_; }
  // The chunks kept: the cap, or fewer once memory for the next one could not be had.
  std::size_t chunkCount() const { return limit_.load(std::memory_order_acquire); }

  // Draws k * chunkSize .. (k + 1) * chunkSize - 1 of the stream, k < chunkCount; generates them
  // and every earlier chunk on first use. Safe to call from several threads. Null when the
  // memory for the chunk cannot be had: the cap then falls to k, and readers go on live.
  const std::int32_t* chunk(std::size_t k);

  // A generator that continues the stream right after the last kept draw.
  ShiftXorGenerator continuation();

  // The seed of the stream.
  std::int32_t seed() const { return seed_; }
  // The widest variant its draws are made by.
  DrawVariant drawVariant() const { return drawVariant_; }
  // The chunks made so far: chunk(k) for k below it returns at once.
  std::size_t madeChunks() const { return ready_.load(std::memory_order_acquire); }

 private:
  // False when memory ran out first.
  bool generateThrough(std::size_t k);

  std::int32_t seed_;
  DrawVariant drawVariant_;
  std::size_t chunkSize_;
  // Where each generated chunk starts, in the slabs below (null until generated).
  std::vector<std::int32_t*> chunks_;
  // The memory of the chunks, in slabs of whole huge pages where the system has them: the
  // stream is written once and read by every point, and a fresh page costs more to map than to
  // fill.
  struct FreeMemory {
    void operator()(void* memory) const { std::free(memory); }
  };
  std::vector<std::unique_ptr<std::int32_t[], FreeMemory>> slabs_;
  // Chunks are generated in several lanes at once, as many as divide the chunk.
  std::optional<LaneFill> chunkFill_;
  std::size_t chunksPerSlab_ = 1;
  std::size_t slabBytes_ = 0;
  // Chunks 0..ready_-1 are complete; published with release order so that readers need no lock.
  std::atomic<std::size_t> ready_{0};
  std::atomic<std::size_t> limit_;  // chunks that may be kept
  std::mutex mutex_;
  ShiftXorGenerator generator_;
};

// Memory for a stretch of draws, left as it is (not zeroed), in whole huge pages where the system
// has them: the pages are touched first by whoever fills them.
class DrawBuffer {
 public:
  // Room for `count` draws at least; keeps what it holds when it has the room already. Null
  // when the memory cannot be had.
  std::int32_t* reserve(std::size_t count);
  // Gives the memory back.
  void release() {
    memory_.reset();
    count_ = 0;
  }

 private:
  struct FreeMemory {
    void operator()(void* memory) const { std::free(memory); }
  };
  std::unique_ptr<std::int32_t[], FreeMemory> memory_;
  std::size_t count_ = 0;
};

// One point's reading position in the stream, from its start.
class DrawCursor {
 public:
  // `wideMarks`: marks draws with 256-bit vectors, which needs a processor with AVX2.
  explicit DrawCursor(DrawStreamCache& cache, bool wideMarks = false);

  // Returns to the first draw of the stream.
  void restart();
  // Goes on at draw `draw` of the stream (0 is its first): in the kept chunks at once, beyond
  // them with a generator of this cursor's own that jumps there without making the draws between.
  void seek(std::int64_t draw);
  // Where the next draw stands in the stream: the draws read or passed since its first.
  std::int64_t position() const { return windowStart_ + (position_ - windowBase_); }
  // Reads the caller's copy of the stream: draws[0 .. count - 1] are draws firstDraw ..
  // firstDraw + count - 1, and the next draw is draws[at]. Past them the cursor goes on as seek
  // would. The draws must stay until the cursor leaves them (restart, seek or the end).
  void readFrom(const std::int32_t* draws, std::int64_t count, std::int64_t firstDraw,
                std::int64_t at);

  // The next draw.
  std::int32_t next() {
    if (position_ == end_) advanceWindow();
    // The marks hold only where a symbol starts, which the caller may leave.
    dropMarks();
    return *position_++;
  }

  // Passes `count` symbols through the channel at `bound`: each takes one draw, and a draw at or
  // below `bound` corrupts its symbol s, whose value is the draw after it: onCorrupted(s, value)
  // for each, s ascending. The corrupting draws of a word of draws stay in registers across the
  // calls.
  template <typename OnCorrupted>
  void transmit(std::int32_t bound, std::int64_t count, OnCorrupted&& onCorrupted) {
    if (bound != markedBound_) dropMarks();
    std::int64_t s = 0;
    while (s < count) {
      if (markedCount_ == 0) markNext(bound);
      std::uint64_t corrupting = marks_;
      const std::int64_t marked = markedCount_;
      const std::int32_t* const position = position_;
      const std::int64_t room = count - s;
      // The symbol at draw p of the word, after k corrupted ones (two draws each), is symbol
      // p - k of the word.
      std::int64_t k = 0;
      bool ends = false;         // the symbols end within the word
      bool valueBeyond = false;  // the word's last draw corrupts: its value is the next draw
      while (corrupting != 0) {
        const auto p = static_cast<std::int64_t>(std::countr_zero(corrupting));
        if (p - k >= room) {
          ends = true;
          break;
        }
        if (p + 1 == marked) {
          valueBeyond = true;
          break;
        }
        onCorrupted(s + p - k, position[p + 1]);
        corrupting &= corrupting - 1;
        ++k;
      }
      if (valueBeyond) {
        const std::int64_t symbol = s + marked - 1 - k;
        dropMarks();
        position_ = position + marked;
        onCorrupted(symbol, next());
        s = symbol + 1;
        continue;
      }
      // The word holds marked - k symbols; where fewer are wanted, symbol `room` of the word
      // starts at draw room + k.
      if (!ends && marked - k <= room) {
        dropMarks();
        position_ = position + marked;
        s += marked - k;
        continue;
      }
      const std::int64_t used = room + k;  // < marked
      position_ = position + used;
      marks_ = corrupting >> used;
      markedCount_ = marked - used;
      s = count;
    }
  }

 private:
  void advanceWindow();
  // The next window of live draws, from this cursor's generator.
  void fillLive();
  // Marks the corrupting draws among the next 64 (fewer at the window's end) at `bound`, a
  // symbol starting at the next draw, moving to the next window first at the end of one.
  void markNext(std::int32_t bound);
  void markAtOrBelow(std::int32_t bound);
  // Forgets the marks.
  void dropMarks() {
    marks_ = 0;
    markedCount_ = 0;
  }

  // Large enough that starting the lanes of a fill (a jump each) costs little beside it.
  static constexpr std::size_t liveBufferSize = 16384;
  // Live draws are generated in lanes too; made on the first use.
  std::optional<LaneFill> liveFill_;

  DrawStreamCache& cache_;
  const std::int32_t* position_ = nullptr;
  const std::int32_t* end_ = nullptr;
  // The window position_ reads in, and the place of its first draw in the stream.
  const std::int32_t* windowBase_ = nullptr;
  std::int64_t windowStart_ = 0;
  std::size_t nextChunk_ = 0;
  bool live_ = false;
  bool borrowed_ = false;  // the window is the caller's (readFrom)
  ShiftXorGenerator generator_;
  std::vector<std::int32_t> liveBuffer_;
  // Bit k: draw position_[k] corrupts its symbol at markedBound_ (it is at or below the bound and
  // starts a symbol, position_[0] starting one), for k < markedCount_; held only while position_
  // stands where a symbol starts. A point reads with one bound, so one comparison of the draws
  // serves several blocks.
  std::uint64_t marks_ = 0;
  std::int64_t markedCount_ = 0;
  std::int32_t markedBound_ = 0;
  bool wideMarks_ = false;
};

}  // namespace nbsim
