// Index-tracking quicksorts: 32-bit integers or doubles sorted ascending in
// place, with an index array permuted exactly as the values are.
//
// Other tools rely on where equal values land, so the partition is the
// library's long-standing one and must not change: a two-pointer partition
// around the value at the middle position, where values equal to the pivot
// stop both pointers and are swapped. After it, [left, j] and [i, right] are
// disjoint ranges that are sorted independently, so the order in which they
// are sorted does not change the result. The smaller range is sorted by a
// recursive call and the larger by the next turn of the loop, which keeps the
// stack depth logarithmic even on inputs (such as rising-then-falling ones)
// where the middle pivot splits off one element at a time.
#include "LiDAR.h"

#include <cstdint>

namespace {

// Positions are 64-bit inside so that i + 1, j - 1 and the middle position
// cannot overflow at the ends of the 32-bit range.
using Pos = int64_t;

template <typename T>
void swap_pair(T *values, int32_t *p_ind, Pos a, Pos b) noexcept {
    const T v = values[a];
    values[a] = values[b];
    values[b] = v;
    const int32_t k = p_ind[a];
    p_ind[a] = p_ind[b];
    p_ind[b] = k;
}

// Partitions [left, right] (left < right) and gives the two ranges that are
// left to sort: [left, j] and [i, right], either of them possibly empty.
template <typename T>
void partition(T *values, int32_t *p_ind, Pos left, Pos right, Pos &i, Pos &j) noexcept {
    const T pivot = values[(left + right) / 2];
    i = left;
    j = right;
    while (i <= j) {
        while (values[i] < pivot && i < right) ++i;
        while (pivot < values[j] && j > left) --j;
        if (i <= j) {
            swap_pair(values, p_ind, i, j);
            ++i;
            --j;
        }
    }
}

template <typename T>
void sort_range(T *values, int32_t *p_ind, Pos left, Pos right) noexcept {
    // A range of fewer than two elements is already sorted; returning before
    // the pivot is read also keeps an empty array untouched.
    while (left < right) {
        Pos i, j;
        partition(values, p_ind, left, right, i, j);
        if (j - left < right - i) {
            sort_range(values, p_ind, left, j);
            left = i;
        } else {
            sort_range(values, p_ind, i, right);
            right = j;
        }
    }
}

// The same sort with a depth budget: while the budget is above 0 both ranges
// continue in this function with one less; at 0 they go to sort_range. The
// result is that of sort_range.
template <typename T>
void sort_range_budget(T *values, int32_t *p_ind, Pos left, Pos right, int32_t deep) noexcept {
    while (left < right) {
        Pos i, j;
        partition(values, p_ind, left, right, i, j);
        if (deep <= 0) {
            sort_range(values, p_ind, left, j);
            sort_range(values, p_ind, i, right);
            return;
        }
        --deep;
        if (j - left < right - i) {
            sort_range_budget(values, p_ind, left, j, deep);
            left = i;
        } else {
            sort_range_budget(values, p_ind, i, right, deep);
            right = j;
        }
    }
}

// Depth budget of the whole-array parallel members.
constexpr int32_t kParallelDepth = 15;

}  // namespace

extern "C" {

void l_qs(int32_t *values, int32_t left, int32_t right, int32_t *p_ind) {
    sort_range(values, p_ind, left, right);
}

void l_quicksort(int32_t *values, int32_t count, int32_t *p_ind) {
    sort_range(values, p_ind, 0, Pos{count} - 1);
}

void d_qs(double *values, int32_t left, int32_t right, int32_t *p_ind) {
    sort_range(values, p_ind, left, right);
}

void d_quicksort(double *values, int32_t count, int32_t *p_ind) {
    sort_range(values, p_ind, 0, Pos{count} - 1);
}

void l_parallel_qs(int32_t *values, int32_t left, int32_t right, int32_t *p_ind, int32_t deep) {
    sort_range_budget(values, p_ind, left, right, deep);
}

void l_parallel_quicksort(int32_t *values, int32_t count, int32_t *p_ind) {
    sort_range_budget(values, p_ind, 0, Pos{count} - 1, kParallelDepth);
}

void d_parallel_qs(double *values, int32_t left, int32_t right, int32_t *p_ind, int32_t deep) {
    sort_range_budget(values, p_ind, left, right, deep);
}

void d_parallel_quicksort(double *values, int32_t count, int32_t *p_ind) {
    sort_range_budget(values, p_ind, 0, Pos{count} - 1, kParallelDepth);
}

}  // extern "C"
