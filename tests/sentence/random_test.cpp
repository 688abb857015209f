#include "brumlis/sentence/random.h"

#include <gtest/gtest.h>
#include <vector>

namespace brumlis {
namespace {

// Pearson's chi-square statistic of observed counts against a uniform expectation.
double chiSquare(const std::vector<long>& counts, long draws) {
    const double expected = double(draws) / double(counts.size());
    double sum = 0;
    for (const long c : counts)
        sum += (double(c) - expected) * (double(c) - expected) / expected;
    return sum;
}

TEST(MersenneRandom, BelowIsUniform) {
    // Critical values of chi-square at p = 0.001 for n - 1 degrees of freedom.
    struct Case {
        std::uint64_t n;
        double critical;
    } cases[] = {{2, 10.83}, {3, 13.82}, {10, 27.88}, {11, 29.59}, {100, 148.2}};
    MersenneRandom random(12345);
    for (const Case& c : cases) {
        const long draws = long(c.n) * 2000;
        std::vector<long> counts(c.n);
        for (long i = 0; i < draws; ++i)
            ++counts.at(random.below(c.n));
        EXPECT_LT(chiSquare(counts, draws), c.critical) << "n = " << c.n;
    }
}

TEST(MersenneRandom, BelowStaysInRangeForAwkwardBounds) {
    MersenneRandom random(1);
    for (const std::uint64_t n :
         {1ull, 3ull, 32767ull, 32768ull, 1'000'000ull, (1ull << 63) + 1, ~0ull})
        for (int i = 0; i < 1000; ++i)
            ASSERT_LT(random.below(n), n) << n;
}

TEST(MersenneRandom, SameSeedSameSequence) {
    MersenneRandom a(99), b(7);
    b.seed(99);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(a.below(1000), b.below(1000));
}

TEST(SystemClock, SeedsDifferAcrossCalls) {
    SystemClock clock;
    const std::uint64_t first = clock.seedNow();
    std::uint64_t later = first;
    for (int i = 0; i < 1000 && later == first; ++i)
        later = clock.seedNow();
    EXPECT_NE(first, later);
}

} // namespace
} // namespace brumlis
