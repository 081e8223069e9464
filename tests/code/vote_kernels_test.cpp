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

// Votes from a few values of the alphabet, zero among them.
std::vector<std::uint32_t> randomVotes(std::mt19937_64& random, std::size_t count) {
  static const std::uint32_t alphabets[] = {2, 3, 4, 5, 9, 256, 32768};
  const std::uint32_t Q = alphabets[random() % std::size(alphabets)];
  std::vector<std::uint32_t> palette(1 + random() % 4);
  for (std::uint32_t& value : palette) value = static_cast<std::uint32_t>(random() % Q);
  std::vector<std::uint32_t> votes(count);
  for (std::uint32_t& vote : votes) vote = palette[random() % palette.size()];
  return votes;
}

// The kernels through the decoder's own tables, so that each is built once here.
void checkLoneVotes(std::mt19937_64& random, std::int32_t C) {
  const votes::LoneVote loneVote = votes::loneVotes[static_cast<std::size_t>(C - 1)];
  std::vector<std::int32_t> offsets(C);
  for (std::int32_t k = 0; k < C; ++k) offsets[k] = 3 * k + 1;
  for (int n = 0; n < 3000; ++n) {
    const std::vector<std::uint32_t> votes = randomVotes(random, C + 1);  // d first
    std::vector<std::uint32_t> syndromes(3 * C + 1, 12345);
    std::int32_t m = 0;
    for (std::int32_t k = 0; k <= C; ++k) m += votes[k] != 0;
    for (std::int32_t k = 0; k < C; ++k) syndromes[offsets[k]] = votes[k + 1];
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

void checkGroupVotes(std::mt19937_64& random, std::int32_t C, bool withD) {
  const votes::GroupVoteKernel groupVote =
      withD ? votes::groupVoteKernels[static_cast<std::size_t>(C)]
            : votes::groupVoteKernelsWithoutD[static_cast<std::size_t>(C - 1)];
  // Vote k + 1 of lane l at syndromes[offsets[k] + l].
  std::vector<std::int32_t> offsets(C);
  for (std::int32_t k = 0; k < C; ++k) offsets[k] = 10 * k + static_cast<std::int32_t>(k % 3);
  for (int n = 0; n < 1000; ++n) {
    std::vector<std::vector<std::uint32_t>> lanes(8);
    std::vector<std::uint32_t> differences(8);
    std::vector<std::uint32_t> syndromes(10 * C + 10, 0);
    std::vector<std::int16_t> nonzero(8);
    for (std::int32_t l = 0; l < 8; ++l) {
      lanes[l] = randomVotes(random, C + 1);
      if (!withD) lanes[l][0] = 0;
      differences[l] = lanes[l][0];
      for (std::int32_t k = 0; k < C; ++k) syndromes[offsets[k] + l] = lanes[l][k + 1];
      for (std::uint32_t vote : lanes[l])
        nonzero[l] = static_cast<std::int16_t>(nonzero[l] + (vote != 0));
    }
    const auto threshold = static_cast<std::int32_t>(random() % 4);
    const auto due = static_cast<std::uint32_t>(1 + random() % 255);
    std::vector<std::uint32_t> values(8, 0);
    const std::uint32_t corrects =
        due & groupVote(differences.data(), syndromes.data(), offsets.data(), nonzero.data(),
                        threshold, due, values.data());
    for (std::int32_t l = 0; l < 8; ++l) {
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

TEST(VoteKernels, LoneVotesAgreeWithAPlainCount) {
  std::mt19937_64 random(11);
  for (std::int32_t C = 1; C <= votes::largestLoneVote; ++C) checkLoneVotes(random, C);
}

TEST(VoteKernels, GroupVotesAgreeWithAPlainCountInEveryDueLane) {
  std::mt19937_64 random(12);
  for (std::int32_t C = 1; C < votes::largestGroupVote; ++C) {
    checkGroupVotes(random, C, true);
    checkGroupVotes(random, C, false);
  }
}

}  // namespace
}  // namespace nbsim
#endif
