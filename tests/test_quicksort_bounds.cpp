// The quicksorts never touch memory outside the range they sort. This
// program is built with AddressSanitizer around the sort's own source, and
// every array is a heap block of exactly its length (zero bytes when empty),
// so a single read or write past either end stops the run with a report.
#include "LiDAR.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>

namespace {

template <typename T>
struct Block {
    std::unique_ptr<T[]> values;
    std::unique_ptr<int32_t[]> index;
};

template <typename T>
Block<T> block(int32_t n, int shape, std::mt19937 &gen) {
    Block<T> b{std::make_unique<T[]>(static_cast<size_t>(n)), std::make_unique<int32_t[]>(static_cast<size_t>(n))};
    for (int32_t k = 0; k < n; ++k) {
        const int32_t v = shape == 0   ? static_cast<int32_t>(gen() % 7)       // few distinct
                          : shape == 1 ? 3                                    // all equal
                          : shape == 2 ? (k < n / 2 ? k : n - 1 - k)          // organ pipe
                          : shape == 3 ? n - k                                // reversed
                                       : static_cast<int32_t>(gen());         // random
        b.values[static_cast<size_t>(k)] = static_cast<T>(v);
        b.index[static_cast<size_t>(k)] = k;
    }
    return b;
}

template <typename T>
void sort_every_way(void (*whole)(T *, int32_t, int32_t *), void (*range)(T *, int32_t, int32_t, int32_t *),
                    void (*budget)(T *, int32_t, int32_t, int32_t *, int32_t)) {
    std::mt19937 gen(17);
    for (int32_t n = 0; n <= 70; ++n) {
        for (int shape = 0; shape < 5; ++shape) {
            SCOPED_TRACE("n=" + std::to_string(n) + " shape " + std::to_string(shape));
            for (int way = 0; way < 4; ++way) {
                Block<T> b = block<T>(n, shape, gen);
                if (way == 0) whole(b.values.get(), n, b.index.get());
                if (way == 1) range(b.values.get(), 0, n - 1, b.index.get());
                if (way == 2) budget(b.values.get(), 0, n - 1, b.index.get(), 1);
                if (way == 3) budget(b.values.get(), 0, n - 1, b.index.get(), 15);
                EXPECT_TRUE(std::is_sorted(b.values.get(), b.values.get() + n));
            }
        }
    }
}

}  // namespace

TEST(QuicksortBounds, IntegersStayInsideTheirArrays) {
    sort_every_way<int32_t>(l_quicksort, l_qs, l_parallel_qs);
    sort_every_way<int32_t>(l_parallel_quicksort, l_qs, l_parallel_qs);
}

TEST(QuicksortBounds, DoublesStayInsideTheirArrays) {
    sort_every_way<double>(d_quicksort, d_qs, d_parallel_qs);
    sort_every_way<double>(d_parallel_quicksort, d_qs, d_parallel_qs);
}
