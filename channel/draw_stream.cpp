// The shared draw stream and the cursors that read it.
#include "channel/draw_stream.h"

#include <algorithm>
#include <bit>
#include <new>

#include "channel/error_pattern_source.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define NBSIM_WIDE_MARKS 1
#include <immintrin.h>
#else
#define NBSIM_WIDE_MARKS 0
#endif

namespace nbsim {

namespace {

// The size and alignment of a huge page, which a slab fills whole.
constexpr std::size_t hugePageBytes = std::size_t{2} << 20;

#if NBSIM_WIDE_MARKS
// All ones in the lanes of the eight draws at `draws` that are below `limit`.
[[gnu::target("avx2")]] inline __m256i lanesBelow(const std::int32_t* draws, __m256i limit) {
  return _mm256_cmpgt_epi32(limit, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(draws)));
}

// Bit k: draws[k] <= bound, for all 64 draws, 32 a step; bound + 1 must not overflow.
[[gnu::target("avx2")]] inline std::uint64_t wideMarksAtOrBelow(const std::int32_t* draws,
                                                                std::int32_t bound) {
  const __m256i limit = _mm256_set1_epi32(bound + 1);
  std::uint64_t marks = 0;
  for (std::int64_t k = 0; k < 64; k += 32) {
    // The packs work within each half; the permutation puts the eight quarters back in order.
    const __m256i low =
        _mm256_packs_epi32(lanesBelow(draws + k, limit), lanesBelow(draws + k + 8, limit));
    const __m256i high =
        _mm256_packs_epi32(lanesBelow(draws + k + 16, limit), lanesBelow(draws + k + 24, limit));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packs_epi16(low, high),
                                                      _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    marks |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes)))
             << k;
  }
  return marks;
}
#endif

}  // namespace

DrawStreamCache::DrawStreamCache(std::int32_t seed, std::size_t chunkSize, std::size_t chunkCount,
                                 DrawVariant variant)
    : seed_(seed),
      drawVariant_(variant),
      chunkSize_(std::max<std::size_t>(chunkSize, 1)),
      chunks_(chunkCount, nullptr),
      limit_(chunkCount) {
  generator_.init(seed);
  if (chunkCount > 0) chunkFill_.emplace(chunkSize_, variant);
  // Whole huge pages per slab, holding as many whole chunks as fit, one at least.
  const std::size_t chunkBytes = chunkSize_ * sizeof(std::int32_t);
  chunksPerSlab_ = std::max<std::size_t>(hugePageBytes / chunkBytes, 1);
  slabBytes_ = (chunksPerSlab_ * chunkBytes + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
}

const std::int32_t* DrawStreamCache::chunk(std::size_t k) {
  if (k >= ready_.load(std::memory_order_acquire) && !generateThrough(k)) return nullptr;
  return chunks_[k];
}

bool DrawStreamCache::generateThrough(std::size_t k) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // Never beyond the cap: readers past it continue from the generator's state at the cap.
  if (k >= limit_.load(std::memory_order_relaxed)) return false;
  std::size_t ready = ready_.load(std::memory_order_relaxed);
  for (; ready <= k; ++ready) {
    if (ready % chunksPerSlab_ == 0) {
      void* memory = std::aligned_alloc(hugePageBytes, slabBytes_);
      if (memory == nullptr) {
        // The stream stays exact: every point reads on from here with a generator of its own.
        limit_.store(ready, std::memory_order_release);
        return false;
      }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
      // A hint only: where huge pages are not to be had, the slab keeps small ones.
      madvise(memory, slabBytes_, MADV_HUGEPAGE);
#endif
      slabs_.emplace_back(static_cast<std::int32_t*>(memory));
    }
    chunks_[ready] = slabs_.back().get() + (ready % chunksPerSlab_) * chunkSize_;
    (*chunkFill_)(generator_, chunks_[ready]);
    ready_.store(ready + 1, std::memory_order_release);
  }
  return true;
}

ShiftXorGenerator DrawStreamCache::continuation() {
  // The chunks up to the cap are there, or the cap has fallen to those that are.
  while (chunkCount() > 0 && !generateThrough(chunkCount() - 1)) {
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  return generator_;
}

std::int32_t* DrawBuffer::reserve(std::size_t count) {
  if (count <= count_) return memory_.get();
  const std::size_t bytes =
      (count * sizeof(std::int32_t) + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
  memory_.reset();
  count_ = 0;
  void* memory = std::aligned_alloc(hugePageBytes, bytes);
  if (memory == nullptr) return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(memory, bytes, MADV_HUGEPAGE);
#endif
  memory_.reset(static_cast<std::int32_t*>(memory));
  count_ = bytes / sizeof(std::int32_t);
  return memory_.get();
}

DrawCursor::DrawCursor(DrawStreamCache& cache, bool wideMarks)
    : cache_(cache), wideMarks_(wideMarks) {}

void DrawCursor::restart() {
  position_ = nullptr;
  end_ = nullptr;
  windowBase_ = nullptr;
  windowStart_ = 0;
  dropMarks();
  nextChunk_ = 0;
  live_ = false;
  borrowed_ = false;
}

void DrawCursor::readFrom(const std::int32_t* draws, std::int64_t count, std::int64_t firstDraw,
                          std::int64_t at) {
  restart();
  borrowed_ = true;
  windowBase_ = draws;
  windowStart_ = firstDraw;
  position_ = draws + at;
  end_ = draws + count;
}

void DrawCursor::seek(std::int64_t draw) {
  restart();
  const auto size = static_cast<std::int64_t>(cache_.chunkSize());
  const std::int64_t k = draw / size;
  if (static_cast<std::size_t>(k) < cache_.chunkCount()) {
    if (const std::int32_t* chunk = cache_.chunk(static_cast<std::size_t>(k))) {
      nextChunk_ = static_cast<std::size_t>(k) + 1;
      windowBase_ = chunk;
      windowStart_ = k * size;
      position_ = chunk + (draw - windowStart_);
      end_ = chunk + size;
      return;
    }
  }
  // The kept chunks end at or before the draw (the cap only ever falls, to chunks that are
  // there): the cursor's own generator goes on from their end.
  live_ = true;
  generator_ = cache_.continuation();
  const auto kept = static_cast<std::int64_t>(cache_.chunkCount()) * size;
  if (draw > kept) {
    generator_.skip(ShiftXorGenerator::Jump(static_cast<std::uint64_t>(draw - kept)));
  }
  windowStart_ = draw - static_cast<std::int64_t>(liveBufferSize);
  fillLive();
}

void DrawCursor::advanceWindow() {
  if (borrowed_) {
    // The caller's draws end here: on from the stream itself.
    seek(windowStart_ + (end_ - windowBase_));
    return;
  }
  if (!live_ && nextChunk_ < cache_.chunkCount()) {
    if (const std::int32_t* chunk = cache_.chunk(nextChunk_)) {
      windowStart_ = static_cast<std::int64_t>(nextChunk_ * cache_.chunkSize());
      ++nextChunk_;
      windowBase_ = chunk;
      position_ = chunk;
      end_ = position_ + cache_.chunkSize();
      return;
    }
  }
  if (!live_) {
    live_ = true;
    generator_ = cache_.continuation();
    // The live stream goes on right after the last kept draw, where this cursor stands.
    windowStart_ = static_cast<std::int64_t>(nextChunk_ * cache_.chunkSize()) -
                   static_cast<std::int64_t>(liveBufferSize);
  }
  fillLive();
}

void DrawCursor::fillLive() {
  if (liveBuffer_.size() != liveBufferSize) liveBuffer_.resize(liveBufferSize);
  if (!liveFill_) liveFill_.emplace(liveBufferSize, cache_.drawVariant());
  (*liveFill_)(generator_, liveBuffer_.data());
  windowStart_ += static_cast<std::int64_t>(liveBufferSize);
  windowBase_ = liveBuffer_.data();
  position_ = windowBase_;
  end_ = position_ + liveBuffer_.size();
}

namespace {

// Bit k: draws[k] <= bound, for k < count <= 64; `wide` as for DrawCursor.
std::uint64_t marksAtOrBelow(const std::int32_t* draws, std::int64_t count, std::int32_t bound,
                             bool wide) {
  if (bound < 0) return 0;  // no draw is negative
  if (bound >= 2147483647) return count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
#if NBSIM_WIDE_MARKS
  if (wide && count == 64) return wideMarksAtOrBelow(draws, bound);
#else
  (void)wide;
#endif
  std::uint64_t marks = 0;
  std::int64_t k = 0;
#if defined(__SSE2__)
  // Sixteen draws a step, their comparisons packed to bytes; bound + 1 does not overflow here.
  const __m128i limit = _mm_set1_epi32(bound + 1);
  const auto below = [draws, limit](std::int64_t at) {
    return _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(draws + at)), limit);
  };
  for (; count - k >= 16; k += 16) {
    const __m128i low = _mm_packs_epi32(below(k), below(k + 4));
    const __m128i high = _mm_packs_epi32(below(k + 8), below(k + 12));
    marks |= static_cast<std::uint64_t>(
                 static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high))))
             << k;
  }
#endif
  for (; k < count; ++k) {
    if (draws[k] <= bound) marks |= std::uint64_t{1} << k;
  }
  return marks;
}

}  // namespace

namespace {

// The draws of a word that corrupt their symbols, bit k for draw k, when draw 0 starts a
// symbol: a symbol whose draw is marked takes the draw after it as its value, so within a run of
// marked draws the symbols start at the run's first draw and every second one after it.
std::uint64_t corruptingOf(std::uint64_t marks) {
  constexpr std::uint64_t even = 0x5555555555555555u;
  const std::uint64_t runStarts = marks & ~(marks << 1);
  // A one added at a run's start ripples through the run to the draw after it: the runs that
  // start at even draws are cleared, the others stay.
  const std::uint64_t fromEven = marks + (runStarts & even);
  return marks & (fromEven ^ even);
}

}  // namespace

void DrawCursor::markAtOrBelow(std::int32_t bound) {
  const std::int64_t count = std::min<std::int64_t>(64, end_ - position_);
  marks_ = corruptingOf(marksAtOrBelow(position_, count, bound, wideMarks_));
  markedCount_ = count;
  markedBound_ = bound;
}

void DrawCursor::markNext(std::int32_t bound) {
  if (position_ == end_) advanceWindow();
  markAtOrBelow(bound);
}

namespace {

// parseSymbols' loop; `wide`: the marks of a whole word from wideMarksAtOrBelow, where `bound`
// is neither negative nor the largest draw.
template <bool wide>
inline SymbolParse parseWords(const std::int32_t* draws, std::int64_t from, std::int64_t to,
                              std::int32_t bound) {
  SymbolParse parse{0, from};
  std::uint64_t value = 0;  // 1: the word's first draw is the value of the last one before it
  for (std::int64_t p = from; p < to;) {
    const std::int64_t count = std::min<std::int64_t>(64, to - p);
    std::uint64_t marks = 0;
#if NBSIM_WIDE_MARKS
    if constexpr (wide) {
      marks = count == 64 ? wideMarksAtOrBelow(draws + p, bound)
                          : marksAtOrBelow(draws + p, count, bound, false);
    } else {
      marks = marksAtOrBelow(draws + p, count, bound, false);
    }
#else
    marks = marksAtOrBelow(draws + p, count, bound, false);
#endif
    marks &= ~value;
    const std::uint64_t inWord = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    // The values are the draws right after the corrupting ones.
    const std::uint64_t corrupting = corruptingOf(marks);
    const std::uint64_t values = ((corrupting << 1) | value) & inWord;
    parse.symbols += count - std::popcount(values);
    // The last draw starts a corrupted symbol: its value is the next word's first draw.
    value = corrupting >> (count - 1) & 1;
    p += count;
  }
  parse.next = std::max(to, from) + static_cast<std::int64_t>(value);
  return parse;
}

#if NBSIM_WIDE_MARKS
// With the comparisons and the counts in the processor's own instructions.
[[gnu::target("avx2,popcnt")]] SymbolParse wideParseWords(const std::int32_t* draws,
                                                          std::int64_t from, std::int64_t to,
                                                          std::int32_t bound) {
  return parseWords<true>(draws, from, to, bound);
}
#endif

}  // namespace

SymbolParse parseSymbols(const std::int32_t* draws, std::int64_t from, std::int64_t to,
                         std::int32_t bound, bool wide) {
#if NBSIM_WIDE_MARKS
  if (wide && bound >= 0 && bound < 2147483647) return wideParseWords(draws, from, to, bound);
#else
  (void)wide;
#endif
  return parseWords<false>(draws, from, to, bound);
}

StretchParse parseStretch(const std::int32_t* draws, std::int64_t count, std::int32_t bound,
                          const SymbolParse& first, bool wide) {
  StretchParse parse{{first.symbols, first.symbols}, {first.next, first.next}};
  // The draw after the first draw above the bound from draw 1 on starts a symbol in both
  // parses, and from there on they are the same: only the symbols before it differ. Where no
  // such draw comes soon (P0 near 1), the stretch is parsed again from draw 1.
  constexpr std::int64_t look = 4096;
  std::int64_t meet = 1;
  while (meet < count && meet <= look && draws[meet] <= bound) ++meet;
  if (meet < count && meet <= look) {
    parse.symbols[1] += parseSymbols(draws, 1, meet + 1, bound, false).symbols -
                        parseSymbols(draws, 0, meet + 1, bound, false).symbols;
  } else {
    const SymbolParse second = parseSymbols(draws, 1, count, bound, wide);
    parse.symbols[1] = second.symbols;
    parse.next[1] = second.next;
  }
  return parse;
}

}  // namespace nbsim
