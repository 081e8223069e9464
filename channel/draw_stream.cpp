// The shared draw stream and the cursors that read it.
#include "channel/draw_stream.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nbsim {

DrawStreamCache::DrawStreamCache(std::int32_t seed, std::size_t chunkSize, std::size_t chunkCount)
    : chunkSize_(std::max<std::size_t>(chunkSize, 1)), chunks_(chunkCount) {
  generator_.init(seed);
}

const std::int32_t* DrawStreamCache::chunk(std::size_t k) {
  if (k >= ready_.load(std::memory_order_acquire)) generateThrough(k);
  return chunks_[k].get();
}

void DrawStreamCache::generateThrough(std::size_t k) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::size_t ready = ready_.load(std::memory_order_relaxed);
  for (; ready <= k; ++ready) {
    chunks_[ready] = std::make_unique<std::int32_t[]>(chunkSize_);
    std::int32_t* draws = chunks_[ready].get();
    for (std::size_t d = 0; d < chunkSize_; ++d) draws[d] = generator_.nextInt();
    ready_.store(ready + 1, std::memory_order_release);
  }
}

ShiftXorGenerator DrawStreamCache::continuation() {
  if (!chunks_.empty()) generateThrough(chunks_.size() - 1);
  const std::lock_guard<std::mutex> lock(mutex_);
  return generator_;
}

DrawCursor::DrawCursor(DrawStreamCache& cache) : cache_(cache) {}

void DrawCursor::restart() {
  position_ = nullptr;
  end_ = nullptr;
  nextChunk_ = 0;
  live_ = false;
}

void DrawCursor::advanceWindow() {
  if (!live_ && nextChunk_ < cache_.chunkCount()) {
    position_ = cache_.chunk(nextChunk_++);
    end_ = position_ + cache_.chunkSize();
    return;
  }
  if (!live_) {
    live_ = true;
    generator_ = cache_.continuation();
    liveBuffer_.resize(liveBufferSize);
  }
  for (std::int32_t& draw : liveBuffer_) draw = generator_.nextInt();
  position_ = liveBuffer_.data();
  end_ = position_ + liveBuffer_.size();
}

namespace {

// The first draw in [from, to) at or below `bound` (0..2147483646), or `to`.
const std::int32_t* firstAtOrBelow(const std::int32_t* from, const std::int32_t* to,
                                   std::int32_t bound) {
  const std::int32_t* p = from;
#if defined(__SSE2__)
  // Sixteen draws a step, one branch per step while they all stay above the bound.
  const __m128i limit = _mm_set1_epi32(bound + 1);
  while (to - p >= 16) {
    const __m128i* const block = reinterpret_cast<const __m128i*>(p);
    const __m128i below01 = _mm_or_si128(_mm_cmplt_epi32(_mm_loadu_si128(block), limit),
                                         _mm_cmplt_epi32(_mm_loadu_si128(block + 1), limit));
    const __m128i below23 = _mm_or_si128(_mm_cmplt_epi32(_mm_loadu_si128(block + 2), limit),
                                         _mm_cmplt_epi32(_mm_loadu_si128(block + 3), limit));
    if (_mm_movemask_epi8(_mm_or_si128(below01, below23)) != 0) break;
    p += 16;
  }
#endif
  while (p != to && *p > bound) ++p;
  return p;
}

}  // namespace

std::int64_t DrawCursor::skipAbove(std::int32_t bound, std::int64_t limit) {
  std::int64_t skipped = 0;
  while (skipped < limit) {
    if (position_ == end_) advanceWindow();
    const std::int64_t available = end_ - position_;
    const std::int32_t* const stop = position_ + std::min(available, limit - skipped);
    const std::int32_t* p = position_;
    if (bound < 0) {
      p = stop;  // no draw is negative
    } else if (bound < 2147483647) {
      p = firstAtOrBelow(position_, stop, bound);
    }  // else every draw is at or below the bound
    skipped += p - position_;
    position_ = p;
    if (p != stop) break;
  }
  return skipped;
}

}  // namespace nbsim
