// Index-tracking quicksorts: the values end sorted, and the index array ends
// in exactly the permutation of the library's long-standing partition, which
// is kept below as a plain recursive transcription. Other tools rely on where
// equal values land, so the index must match it, not merely be consistent.
#include "LiDAR.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

// The partition as the library has always done it, recursing into both
// parts. Its depth is unbounded on adversarial input, so it runs only where
// the stack is known to suffice.
template <typename T>
void reference_qs(T *values, int left, int right, int32_t *p_ind) {
    const T v = values[(left + right) / 2];
    int i = left, j = right;
    while (i <= j) {
        while (values[i] < v && i < right) i++;
        while (v < values[j] && j > left) j--;
        if (i <= j) {
            std::swap(values[i], values[j]);
            std::swap(p_ind[i], p_ind[j]);
            i++;
            j--;
        }
    }
    if (left < j) reference_qs(values, left, j, p_ind);
    if (i < right) reference_qs(values, i, right, p_ind);
}

template <typename T>
struct Sorted {
    std::vector<T> values;
    std::vector<int32_t> index;
};

std::vector<int32_t> identity(size_t n) {
    std::vector<int32_t> ind(n);
    std::iota(ind.begin(), ind.end(), 0);
    return ind;
}

template <typename T>
Sorted<T> reference_sort(std::vector<T> values) {
    std::vector<int32_t> ind = identity(values.size());
    if (values.size() > 1) reference_qs(values.data(), 0, static_cast<int>(values.size()) - 1, ind.data());
    return {std::move(values), std::move(ind)};
}

// The four whole-array members of each family.
template <typename T>
struct Family;
template <>
struct Family<int32_t> {
    static constexpr const char *name = "l_";
    static void plain(int32_t *v, int32_t n, int32_t *p) { l_quicksort(v, n, p); }
    static void parallel(int32_t *v, int32_t n, int32_t *p) { l_parallel_quicksort(v, n, p); }
    static void qs(int32_t *v, int32_t l, int32_t r, int32_t *p) { l_qs(v, l, r, p); }
    static void parallel_qs(int32_t *v, int32_t l, int32_t r, int32_t *p, int32_t d) {
        l_parallel_qs(v, l, r, p, d);
    }
};
template <>
struct Family<double> {
    static constexpr const char *name = "d_";
    static void plain(double *v, int32_t n, int32_t *p) { d_quicksort(v, n, p); }
    static void parallel(double *v, int32_t n, int32_t *p) { d_parallel_quicksort(v, n, p); }
    static void qs(double *v, int32_t l, int32_t r, int32_t *p) { d_qs(v, l, r, p); }
    static void parallel_qs(double *v, int32_t l, int32_t r, int32_t *p, int32_t d) {
        d_parallel_qs(v, l, r, p, d);
    }
};

template <typename T>
using WholeSort = void (*)(T *, int32_t, int32_t *);

template <typename T>
Sorted<T> library_sort(WholeSort<T> sort, std::vector<T> values) {
    std::vector<int32_t> ind = identity(values.size());
    sort(values.data(), static_cast<int32_t>(values.size()), ind.data());
    return {std::move(values), std::move(ind)};
}

// Doubles are compared by bit pattern, so that NaNs compare too.
template <typename T>
bool same_values(const std::vector<T> &a, const std::vector<T> &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

template <typename T>
void expect_as_reference(const std::vector<T> &input, const Sorted<T> &expected) {
    for (const auto &member : {std::make_pair("quicksort", &Family<T>::plain),
                               std::make_pair("parallel_quicksort", &Family<T>::parallel)}) {
        SCOPED_TRACE(std::string(Family<T>::name) + member.first);
        const Sorted<T> got = library_sort<T>(member.second, input);
        EXPECT_TRUE(same_values(got.values, expected.values));
        EXPECT_TRUE(got.index == expected.index);
    }
}

enum class Pattern { Random, Sorted, Reversed, AllEqual, FewDistinct };

const char *pattern_name(Pattern p) {
    switch (p) {
    case Pattern::Random: return "random";
    case Pattern::Sorted: return "sorted";
    case Pattern::Reversed: return "reversed";
    case Pattern::AllEqual: return "all_equal";
    case Pattern::FewDistinct: return "few_distinct";
    }
    return "?";
}

void PrintTo(Pattern p, std::ostream *os) { *os << pattern_name(p); }

template <typename T>
std::vector<T> make_input(Pattern p, size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<T> v(n);
    for (size_t k = 0; k < n; ++k) {
        switch (p) {
        case Pattern::Random:
            // Full-range integers; doubles with fractions and both signs.
            v[k] = std::is_same<T, double>::value ? static_cast<T>(static_cast<int32_t>(gen())) / 1024.0
                                                  : static_cast<T>(static_cast<int32_t>(gen()));
            break;
        case Pattern::Sorted: v[k] = static_cast<T>(k / 3); break;
        case Pattern::Reversed: v[k] = static_cast<T>(n - k); break;
        case Pattern::AllEqual: v[k] = static_cast<T>(-7); break;
        case Pattern::FewDistinct: v[k] = static_cast<T>(static_cast<int>(gen() % 5) - 2); break;
        }
    }
    return v;
}

// Organ pipe: rising, then falling. The middle pivot splits off one or two
// elements at a time here, so the sort is quadratic and its parts nest
// about n/2 deep.
template <typename T>
std::vector<T> organ_pipe(size_t n) {
    std::vector<T> v(n);
    for (size_t k = 0; k < n; ++k) v[k] = static_cast<T>(k < n / 2 ? k : n - 1 - k);
    return v;
}

// Runs `body` on a new thread with a stack of `bytes`, and waits for it.
void run_on_thread(size_t bytes, const std::function<void()> &body) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
    pthread_t thread;
    auto entry = [](void *arg) -> void * {
        (*static_cast<const std::function<void()> *>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, entry, const_cast<std::function<void()> *>(&body)), 0);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

template <typename T>
void check_pattern(Pattern p, size_t n) {
    SCOPED_TRACE(std::string(pattern_name(p)) + " n=" + std::to_string(n));
    const std::vector<T> input = make_input<T>(p, n, static_cast<uint32_t>(n) * 31u + static_cast<uint32_t>(p));
    const Sorted<T> expected = reference_sort(input);
    ASSERT_TRUE(std::is_sorted(expected.values.begin(), expected.values.end()));
    expect_as_reference(input, expected);
}

}  // namespace

TEST(Quicksort, WrittenExamples) {
    // 3, 1, 2 with index 0, 1, 2 becomes 1, 2, 3 with index 1, 2, 0.
    {
        std::vector<int32_t> v = {3, 1, 2}, ind = {0, 1, 2};
        l_quicksort(v.data(), 3, ind.data());
        EXPECT_EQ(v, (std::vector<int32_t>{1, 2, 3}));
        EXPECT_EQ(ind, (std::vector<int32_t>{1, 2, 0}));
        std::vector<double> d = {3.5, 1.5, 2.5};
        ind = {0, 1, 2};
        d_parallel_quicksort(d.data(), 3, ind.data());
        EXPECT_EQ(d, (std::vector<double>{1.5, 2.5, 3.5}));
        EXPECT_EQ(ind, (std::vector<int32_t>{1, 2, 0}));
    }
    // The index is carried, not filled: whatever it held moves with the values.
    {
        std::vector<int32_t> v = {30, 10, 20}, ind = {7, 8, 9};
        l_parallel_quicksort(v.data(), 3, ind.data());
        EXPECT_EQ(ind, (std::vector<int32_t>{8, 9, 7}));
    }
    // One element: left as it is.
    {
        int32_t v = 5, ind = 11;
        l_quicksort(&v, 1, &ind);
        EXPECT_EQ(v, 5);
        EXPECT_EQ(ind, 11);
    }
}

TEST(Quicksort, EqualValuesAreSplitAsTheWrittenPartitionSplitsThem) {
    // Equal values stop both pointers and are swapped, so the index of an
    // all-equal array is reordered; exactly how is what callers rely on.
    std::vector<int32_t> v(8, 4), ind = identity(8);
    l_quicksort(v.data(), 8, ind.data());
    EXPECT_EQ(v, std::vector<int32_t>(8, 4));
    EXPECT_EQ(ind, reference_sort(std::vector<int32_t>(8, 4)).index);
    EXPECT_NE(ind, identity(8));
}

TEST(Quicksort, EmptyArraysAreNeverRead) {
    // A null array with count 0 would fault on any access.
    l_quicksort(nullptr, 0, nullptr);
    d_quicksort(nullptr, 0, nullptr);
    l_parallel_quicksort(nullptr, 0, nullptr);
    d_parallel_quicksort(nullptr, 0, nullptr);
    l_quicksort(nullptr, -3, nullptr);
    d_parallel_quicksort(nullptr, -3, nullptr);
    l_qs(nullptr, 4, 3, nullptr);
    d_qs(nullptr, 0, -1, nullptr);
    l_parallel_qs(nullptr, 9, 2, nullptr, 15);
    d_parallel_qs(nullptr, 1, 0, nullptr, 0);
}

TEST(Quicksort, RangeMembersSortOnlyTheirRange) {
    const std::vector<int32_t> input = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    std::vector<int32_t> expected_values = input, expected_index = identity(10);
    reference_qs(expected_values.data(), 2, 6, expected_index.data());
    ASSERT_EQ(expected_values, (std::vector<int32_t>{9, 8, 3, 4, 5, 6, 7, 2, 1, 0}));
    for (int deep : {-1, 0, 1, 15}) {
        std::vector<int32_t> v = input, ind = identity(10);
        if (deep < 0)
            l_qs(v.data(), 2, 6, ind.data());
        else
            l_parallel_qs(v.data(), 2, 6, ind.data(), deep);
        EXPECT_EQ(v, expected_values) << deep;
        EXPECT_EQ(ind, expected_index) << deep;
    }
    std::vector<double> d(input.begin(), input.end());
    std::vector<int32_t> ind = identity(10);
    d_qs(d.data(), 2, 6, ind.data());
    EXPECT_EQ(std::vector<double>(expected_values.begin(), expected_values.end()), d);
    EXPECT_EQ(ind, expected_index);
}

TEST(Quicksort, DepthBudgetDoesNotChangeTheResult) {
    const std::vector<int32_t> li = make_input<int32_t>(Pattern::FewDistinct, 100000, 5);
    const std::vector<double> di = make_input<double>(Pattern::Random, 100000, 6);
    const Sorted<int32_t> le = reference_sort(li);
    const Sorted<double> de = reference_sort(di);
    for (int32_t deep : {std::numeric_limits<int32_t>::min(), -1, 0, 1, 2, 15, 40,
                         std::numeric_limits<int32_t>::max()}) {
        SCOPED_TRACE("deep " + std::to_string(deep));
        std::vector<int32_t> lv = li, lind = identity(li.size());
        l_parallel_qs(lv.data(), 0, static_cast<int32_t>(lv.size()) - 1, lind.data(), deep);
        EXPECT_TRUE(lv == le.values && lind == le.index);
        std::vector<double> dv = di;
        std::vector<int32_t> dind = identity(di.size());
        d_parallel_qs(dv.data(), 0, static_cast<int32_t>(dv.size()) - 1, dind.data(), deep);
        EXPECT_TRUE(dv == de.values && dind == de.index);
    }
}

TEST(Quicksort, NotANumberComparesByPlainLessThan) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> input = make_input<double>(Pattern::FewDistinct, 2000, 9);
    for (size_t k = 0; k < input.size(); k += 7) input[k] = nan;
    for (size_t k = 3; k < input.size(); k += 11) input[k] = (k % 2) ? inf : -inf;
    input[1000] = nan;  // the first pivot
    expect_as_reference(input, reference_sort(input));
}

// Small arrays of every length up to 40, then larger ones: the values and the
// index equal the written algorithm's on each pattern.
class QuicksortPatterns : public testing::TestWithParam<std::tuple<Pattern, size_t>> {};

TEST_P(QuicksortPatterns, ValuesAndIndexAsWritten) {
    const Pattern p = std::get<0>(GetParam());
    const size_t n = std::get<1>(GetParam());
    if (n == 0) {
        for (size_t small = 0; small <= 40; ++small) {
            check_pattern<int32_t>(p, small);
            check_pattern<double>(p, small);
        }
        return;
    }
    check_pattern<int32_t>(p, n);
    check_pattern<double>(p, n);
}

INSTANTIATE_TEST_SUITE_P(
    Quicksort, QuicksortPatterns,
    testing::Combine(testing::Values(Pattern::Random, Pattern::Sorted, Pattern::Reversed, Pattern::AllEqual,
                                     Pattern::FewDistinct),
                     testing::Values(size_t{0}, size_t{1000}, size_t{100000}, size_t{10000000})),
    [](const testing::TestParamInfo<std::tuple<Pattern, size_t>> &info) {
        const size_t n = std::get<1>(info.param);
        return std::string(pattern_name(std::get<0>(info.param))) + "_" +
               (n == 0 ? std::string("lengths_0_to_40") : std::to_string(n));
    });

// The written recursion nests about 50,000 deep on a 100,000-element organ
// pipe; each member must sort it within a 1 MiB stack. The expected index
// comes from the written algorithm run on a thread with a stack big enough
// for its depth.
template <typename T>
void check_organ_pipe() {
    constexpr size_t kCount = 100000;
    const std::vector<T> input = organ_pipe<T>(kCount);
    Sorted<T> expected;
    run_on_thread(256u << 20, [&] { expected = reference_sort(input); });
    std::vector<T> by_std = input;
    std::sort(by_std.begin(), by_std.end());
    ASSERT_EQ(expected.values, by_std);

    for (const auto &member : {std::make_pair("quicksort", &Family<T>::plain),
                               std::make_pair("parallel_quicksort", &Family<T>::parallel)}) {
        SCOPED_TRACE(std::string(Family<T>::name) + member.first);
        Sorted<T> got;
        run_on_thread(1u << 20, [&] { got = library_sort<T>(member.second, input); });
        EXPECT_TRUE(got.values == by_std);
        EXPECT_TRUE(got.index == expected.index);
    }
}

TEST(QuicksortOrganPipe, IntegersSortWithinOneMebibyteOfStack) { check_organ_pipe<int32_t>(); }
TEST(QuicksortOrganPipe, DoublesSortWithinOneMebibyteOfStack) { check_organ_pipe<double>(); }
