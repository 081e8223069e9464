// The decoder's vote kernels against a plain count of the votes, on random votes drawn from few
// values so that repeats, ties and margins of exactly the threshold are common.
#if defined(__SSE2__)
#include "code/vote_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "code/byte_vote_kernels.h"
#include "code/wide_vote_kernels.h"

namespace nbsim {
namespace {

struct PlainVote {
  bool corrects = false;
  std::uint32_t winner = 0;
};

// The vote as the codec takes it: every non-zero value counted, the best one winning when it
// leads the best other value and the zero votes by more than the threshold.
PlainVote plainVote(const std::vector<std::uint32_t>& votes, std::int32_t threshold) {
  std::map<std::uint32_t, std::int32_t> counts;
  std::int32_t zeros = 0;
  for (std::uint32_t vote : votes) {
    if (vote == 0) {
      ++zeros;
    } else {
      ++counts[vote];
    }
  }
  std::int32_t best = 0;
  std::int32_t second = 0;
  std::uint32_t winner = 0;
  for (const auto& [value, count] : counts) {
    if (count > best) {
      second = best;
      best = count;
      winner = value;
    } else if (count > second) {
      second = count;
    }
  }
  return {best - std::max(second, zeros) > threshold, winner};
}

// Votes from a few values of the alphabet, zero among them; `bytes`: an alphabet of at most 256;
// `alphabet` > 0: that one.
std::vector<std::uint32_t> randomVotes(std::mt19937_64& random, std::size_t count,
                                       bool bytes = false, std::uint32_t alphabet = 0) {
  static const std::uint32_t alphabets[] = {2, 3, 4, 5, 9, 256, 32768};
  const std::uint32_t Q =
      alphabet > 0 ? alphabet : alphabets[random() % (std::size(alphabets) - (bytes ? 1 : 0))];
  std::vector<std::uint32_t> palette(1 + random() % 4);
  for (std::uint32_t& value : palette) value = static_cast<std::uint32_t>(random() % Q);
  std::vector<std::uint32_t> votes(count);
  for (std::uint32_t& vote : votes) vote = palette[random() % palette.size()];
  return votes;
}

// The kernels through the decoder's own tables, so that each is built once here. T: the type of
// a syndrome symbol, 32 bits or a byte.
template <typename T, typename Kernel>
void checkLoneVotes(std::mt19937_64& random, std::int32_t C, Kernel loneVote) {
  std::vector<std::int32_t> offsets(C);
  for (std::int32_t k = 0; k < C; ++k) offsets[k] = 3 * k + 1;
  for (int n = 0; n < 3000; ++n) {
    const std::vector<std::uint32_t> votes = randomVotes(random, C + 1, sizeof(T) == 1);  // d first
    std::vector<T> syndromes(3 * C + 1, static_cast<T>(12345));
    std::int32_t m = 0;
    for (std::int32_t k = 0; k <= C; ++k) m += votes[k] != 0;
    for (std::int32_t k = 0; k < C; ++k) syndromes[offsets[k]] = static_cast<T>(votes[k + 1]);
    const auto threshold = static_cast<std::int32_t>(random() % 4);
    std::uint32_t winner = 0;
    const bool corrects =
        loneVote(votes[0], syndromes.data(), offsets.data(), m, threshold, winner);
    const PlainVote expected = plainVote(votes, threshold);
    ASSERT_EQ(corrects, expected.corrects) << "C=" << C << " case " << n;
    if (corrects) {
      ASSERT_EQ(winner, expected.winner) << "C=" << C << " case " << n;
    }
  }
}

// T: the type of a value, Count: of a count m; `width` lanes; `alphabet` as for randomVotes.
template <typename T, typename Count, std::int32_t width, typename Kernel>
void checkGroupVotes(std::mt19937_64& random, std::int32_t C, bool withD, Kernel groupVote,
                     std::uint32_t alphabet = 0) {
  // Vote k + 1 of lane l at syndromes[offsets[k] + l].
  std::vector<std::int32_t> offsets(C);
  for (std::int32_t k = 0; k < C; ++k) {
    offsets[k] = (width + 2) * k + static_cast<std::int32_t>(k % 3);
  }
  for (int n = 0; n < 1000; ++n) {
    std::vector<std::vector<std::uint32_t>> lanes(width);
    std::vector<T> differences(width);
    std::vector<T> syndromes((width + 2) * C + width, 0);
    std::vector<Count> nonzero(width);
    for (std::int32_t l = 0; l < width; ++l) {
      lanes[l] = randomVotes(random, C + 1, sizeof(T) == 1, alphabet);
      if (!withD) lanes[l][0] = 0;
      differences[l] = static_cast<T>(lanes[l][0]);
      for (std::int32_t k = 0; k < C; ++k) {
        syndromes[offsets[k] + l] = static_cast<T>(lanes[l][k + 1]);
      }
      for (std::uint32_t vote : lanes[l]) nonzero[l] = static_cast<Count>(nonzero[l] + (vote != 0));
    }
    const auto threshold = static_cast<std::int32_t>(random() % 4);
    const auto due = static_cast<std::uint32_t>(1 + random() % ((std::uint64_t{1} << width) - 1));
    std::vector<T> values(width, 0);
    const std::uint32_t corrects =
        due & groupVote(differences.data(), syndromes.data(), offsets.data(), nonzero.data(),
                        threshold, due, values.data());
    for (std::int32_t l = 0; l < width; ++l) {
      if (((due >> l) & 1) == 0) continue;
      const PlainVote expected = plainVote(lanes[l], threshold);
      ASSERT_EQ(((corrects >> l) & 1) != 0, expected.corrects)
          << "C=" << C << " withD=" << withD << " case " << n << " lane " << l;
      if (expected.corrects) {
        ASSERT_EQ(values[l], expected.winner) << "C=" << C << " case " << n << " lane " << l;
      }
    }
  }
}

// The byte kernels, where the processor runs them.
bool byteKernelsRun() {
#if NBSIM_WIDE_DECODER
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

TEST(VoteKernels, LoneVotesAgreeWithAPlainCount) {
  std::mt19937_64 random(11);
  for (std::int32_t C = 1; C <= votes::largestLoneVote; ++C) {
    checkLoneVotes<std::uint32_t>(random, C, votes::loneVotes[static_cast<std::size_t>(C - 1)]);
#if NBSIM_WIDE_DECODER
    if (byteKernelsRun()) {
      checkLoneVotes<std::uint8_t>(random, C,
                                   votes::byteLoneVotes[static_cast<std::size_t>(C - 1)]);
    }
#endif
  }
}

TEST(VoteKernels, GroupVotesAgreeWithAPlainCountInEveryDueLane) {
  std::mt19937_64 random(12);
  for (std::int32_t C = 1; C < votes::largestGroupVote; ++C) {
    const auto k = static_cast<std::size_t>(C);
    checkGroupVotes<std::uint32_t, std::int16_t, 8>(random, C, true, votes::groupVoteKernels[k]);
    checkGroupVotes<std::uint32_t, std::int16_t, 8>(random, C, false,
                                                    votes::groupVoteKernelsWithoutD[k - 1]);
    // Values of 16 bits, half of them 32768 or more.
    checkGroupVotes<std::uint32_t, std::int16_t, 8>(random, C, true,
                                                    votes::groupVoteKernelsFullRange[k], 65536);
    checkGroupVotes<std::uint32_t, std::int16_t, 8>(
        random, C, false, votes::groupVoteKernelsWithoutDFullRange[k - 1], 65536);
#if NBSIM_WIDE_DECODER
    if (byteKernelsRun()) {
      checkGroupVotes<std::uint32_t, std::int16_t, 16>(
          random, C, true, votes::wideGroupVoteKernelsFullRange[k], 65536);
      checkGroupVotes<std::uint8_t, std::int8_t, 32>(random, C, true,
                                                     votes::byteGroupVoteKernels[k]);
      checkGroupVotes<std::uint8_t, std::int8_t, 32>(random, C, false,
                                                     votes::byteGroupVoteKernelsWithoutD[k - 1]);
    }
#endif
  }
}

}  // namespace
}  // namespace nbsim
#endif
