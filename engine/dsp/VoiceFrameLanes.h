#pragma once

#include <cstdint>

#include "engine/dsp/ContrastCurve.h"
#include "engine/dsp/VoiceFrameKernels.h"

// The arithmetic of VoiceFrameKernels, written once for any lane type L (Lanes, WideLanes,
// WiderLanes). Every lane gets exactly the arithmetic of the scalar expression it replaces, so
// every width gives the same bits.
//
// Only templates and plain records live here: a wide translation unit includes this header
// under its own target, and each lane type gets its own instantiation.
namespace voiceframe {

// Per column: the time curve at or below it, and how far it lies towards the next one.
struct alignas(64) ColumnPlaces {
  float curve[kMixedColumns];
  float fraction[kMixedColumns];
  constexpr ColumnPlaces() : curve(), fraction() {
    for (int32_t j = 0; j < kMixedColumns; ++j) {
      curve[j] = static_cast<float>(j / kCurveSpacing);
      fraction[j] = static_cast<float>(j % kCurveSpacing) / static_cast<float>(kCurveSpacing);
    }
  }
};
inline constexpr ColumnPlaces kColumnPlaces{};

template <class L>
void columnFrequencies(const float* const* rowsA, const float* const* rowsB, const float* reached, float x,
                       float* columns) {
  constexpr int32_t W = L::kWidth;
  static_assert(kMixedColumns % W == 0, "whole lane groups");
  const L one = L::splat(1.0f);
  const L zero = L::zero();
  const L topPair = L::splat(static_cast<float>(kFrequencyRows - 2));
  const L weightA = L::splat(1.0f - x);
  const L weightB = L::splat(x);
  const typename L::SmallTable reachedAt(reached, kCurves);
  for (int32_t j = 0; j < kMixedColumns; j += W) {
    const L curve = L::load(kColumnPlaces.curve + j);
    const L u = L::load(kColumnPlaces.fraction + j);
    const L rho = (one - u) * reachedAt.at(curve) + u * reachedAt.at(curve + one);
    // The pair of frequency rows around rho, held inside the rows (a NaN takes the first).
    L pair = lanesSelect(lanesLess(zero, rho), rho, zero);
    pair = lanesTruncate(lanesSelect(lanesLessEqual(topPair, pair), topPair, pair));
    const L g = rho - pair;
    // Every row mixed at these columns; each lane then keeps the two rows of its pair.
    L mixed[kFrequencyRows];
    for (int32_t r = 0; r < kFrequencyRows; ++r) {
      mixed[r] = weightA * L::load(rowsA[r] + j) + weightB * L::load(rowsB[r] + j);
    }
    L below = mixed[0];
    L above = mixed[1];
    for (int32_t r = 1; r + 1 < kFrequencyRows; ++r) {
      const auto reachesRow = lanesLessEqual(L::splat(static_cast<float>(r)), pair);
      below = lanesSelect(reachesRow, mixed[r], below);
      above = lanesSelect(reachesRow, mixed[r + 1], above);
    }
    lanesStore(columns + j, (one - g) * below + g * above);
  }
}

// Lane types that read tables through a window of rising positions (L::Window).
template <class L>
inline constexpr bool kWindowed = requires { typename L::Window; };

// The lanes a knot walk's segments are laid out with: a lane type may name narrower ones
// (L::SegmentLanes) when its groups would mostly run past the fifty-odd segments of a voice.
template <class L>
struct SegmentLanesOf {
  using type = L;
};
template <class L>
  requires requires { typename L::SegmentLanes; }
struct SegmentLanesOf<L> {
  using type = typename L::SegmentLanes;
};

// The lanes' positions 0 .. 15, for counting bands.
alignas(64) inline constexpr float kLaneIndex[16] = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f,
                                         8.0f, 9.0f, 10.0f, 11.0f, 12.0f, 13.0f, 14.0f, 15.0f};

// Grids of at most this many positions; a walk along rising thresholds on such a grid can be
// worked out without one.
constexpr int32_t kMaxGrid = VoiceFrameKernels::kMaxDensityBins + 1;
// Magnitudes from here on are all beyond any grid; below it every float fits an integer.
constexpr float kFarBeyond = 1073741824.0f;

// How many of `number` rising thresholds a walk along a grid of `count` positions has passed
// at each position: passed[i] is the largest k + 1 with reach[k] <= i (0 for none), where
// reach[k] (whole, 0 .. count) is the position at which threshold k is first passed. Each
// threshold marks its position and a running maximum in lanes carries the marks on: no
// branch depends on the data, where a walk would mispredict at every band. passed has room
// for whole lane groups.
// The counts 1, 2, 3, ... as floats, one per threshold.
constexpr int32_t kMaxPassed = 64;
struct alignas(64) PassedCounts {
  float value[kMaxPassed];
  constexpr PassedCounts() : value() {
    for (int32_t k = 0; k < kMaxPassed; ++k) value[k] = static_cast<float>(k + 1);
  }
};
inline constexpr PassedCounts kPassedCountTable{};
inline constexpr const float* kPassedCount = kPassedCountTable.value;
static_assert(KnotSegments::kMaxKnots <= kMaxPassed && kMixedColumns <= kMaxPassed, "a count for every threshold");

template <class L>
inline void spreadPassed(const float* reach, int32_t number, int32_t count, float* passed) {
  constexpr int32_t W = L::kWidth;
  alignas(64) float mark[kMaxGrid + 2 * W];
  for (int32_t i = 0; i <= count; i += W) {
    // Kept a loop of lane stores: a call to clear a few hundred bytes costs more.
    __asm__("" : "+r"(i));
    lanesStore(mark + i, L::zero());
  }
  // The positions as integers first, all at once; then plain stores (the compiler would
  // otherwise turn the loop into a scatter, which some processors run far slower than the
  // stores one at a time).
  int32_t at[kMaxPassed];
  for (int32_t k = 0; k < number; ++k) at[k] = static_cast<int32_t>(reach[k]);
  int32_t k = 0;
  for (; k + 4 <= number; k += 4) {
    __asm__("" : "+r"(k));
    // From one place in each list, so that every access is an address plus a constant.
    const int32_t* const to = at + k;
    const float* const counts = kPassedCount + k;
    mark[to[0]] = counts[0];
    mark[to[1]] = counts[1];
    mark[to[2]] = counts[2];
    mark[to[3]] = counts[3];
  }
  for (; k < number; ++k) mark[at[k]] = kPassedCount[k];
  L carry = L::zero();
  for (int32_t i = 0; i < count; i += W) {
    const L m = lanesMax(lanesRunningMax(L::load(mark + i)), carry);
    lanesStore(passed + i, m);
    carry = lanesLast(m);
  }
}

// reach = clamp(floor(x) + offset, 0, count) for lane groups of x, the floor taken on x held to
// +-kFarBeyond.
template <class L>
inline L reachOf(L x, L offset, L count) {
  const L far = L::splat(kFarBeyond);
  const L whole = lanesFloor(lanesMax(lanesMin(x, far), -far)) + offset;
  return lanesMin(lanesMax(whole, L::zero()), count);
}

template <class L>
void bandAmplitudes(const float* columns, const float* rates, float s, int32_t first, int32_t end, const float* density,
                    float* out, float* scratch) {
  constexpr int32_t W = L::kWidth;
  constexpr int32_t kRoom = kBands + W;
  const int32_t count = end - first;
  const int32_t padded = (count + W - 1) / W * W;
  // Tables the lanes cannot read at once are read one value at a time in plain loops, which
  // beats picking lanes out of registers.
  constexpr bool kColumnsInLanes = L::Table::kInRegisters;
  constexpr bool kRatesInLanes = L::SmallTable::kInRegisters;

  // The column below each band: the walk that moves on while the band lies above the next
  // column. For a shift by whole bands over rising columns, the band at which each column is
  // passed is known at once (band - s > column from floor(column) + 1 on); otherwise the walk
  // is made. The arithmetic then runs a lane group of bands at a time; past the last band the
  // groups repeat it.
  alignas(64) float column[kRoom];
  float below[kColumnsInLanes ? 1 : kRoom];
  float above[kColumnsInLanes ? 1 : kRoom];
  const bool direct = s < kFarBeyond && s > -kFarBeyond && s == static_cast<float>(static_cast<int32_t>(s));
  if (direct) {
    // The walk stops at the first column at or above the band, or at a NaN. On whole bands that
    // is how many columns lie below the band while they rise; columns that dip anywhere count
    // through their running maximum instead (a NaN above every band), which gives the same stop.
    bool rising = true;
    for (int32_t k = 0; rising && k < kMixedColumns; k += W) {
      // No NaN either: columns[k + 1] <= columns[k + 2].
      rising = lanesBitsLessEqual(L::load(columns + k + 1), L::load(columns + k + 2)) == (1ull << W) - 1u;
    }
    const float* below = columns + 1;
    alignas(64) float runningMax[kMixedColumns];
    if (!rising) {
      float highest = -__builtin_inff();
      for (int32_t k = 0; k < kMixedColumns; ++k) {
        const float c = columns[k + 1];
        highest = c != c ? __builtin_inff() : (c > highest ? c : highest);
        runningMax[k] = highest;
      }
      below = runningMax;
    }
    alignas(64) float reach[kMixedColumns];
    const L offset = L::splat(s + 1.0f - static_cast<float>(first));
    const L last = L::splat(static_cast<float>(count));
    for (int32_t k = 0; k < kMixedColumns; k += W) {
      lanesStore(reach + k, reachOf(L::load(below + k), offset, last));
    }
    spreadPassed<L>(reach, kMixedColumns, count, column);
  } else {
    int32_t j = 0;
    for (int32_t i = 0; i < count; ++i) {
      const float p = static_cast<float>(first + i) - s;
      while (j < kMixedColumns && p > columns[j + 1]) ++j;
      column[i] = static_cast<float>(j);
    }
  }
  for (int32_t i = count; i < padded; ++i) column[i] = column[count - 1];
  auto copyColumns = [&](int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) {
      const int32_t j = static_cast<int32_t>(column[i]);
      below[i] = columns[j];
      above[i] = columns[j + 1];
    }
  };
  if constexpr (!kColumnsInLanes && !kWindowed<L>) copyColumns(0, padded);
  // A window reads past the columns: it gets a copy with room behind them.
  constexpr int32_t kWindowRoom = kWindowed<L> ? kMixedColumns + 2 + 2 * W : 1;
  [[maybe_unused]] alignas(64) float windowColumns[kWindowRoom];
  if constexpr (kWindowed<L>) {
    static_assert(kMixedColumns % W == 0, "whole lane groups of columns");
    for (int32_t k = 0; k < kMixedColumns; k += W) lanesStore(windowColumns + k, L::load(columns + k));
    windowColumns[kMixedColumns] = columns[kMixedColumns];
    windowColumns[kMixedColumns + 1] = columns[kMixedColumns + 1];
    for (int32_t k = kMixedColumns + 2; k + W <= kWindowRoom; k += W) lanesStore(windowColumns + k, L::zero());
    lanesStore(windowColumns + kWindowRoom - W, L::zero());
  }

  // Each band's place among the time curves: the span below it and how far into it.
  const L zero = L::zero();
  const L one = L::splat(1.0f);
  // Held on the last span between time curves: past the top column (lowered by a model) the
  // band still reads the last two curves, never beyond.
  const L lastCurve = L::splat(static_cast<float>(kCurves - 1));
  const L lastSpan = L::splat(static_cast<float>(kCurves - 2));
  const L shift = L::splat(s);
  const L lane = L::load(kLaneIndex);
  [[maybe_unused]] const typename L::Table columnAt(columns, kMixedColumns + 2);
  alignas(64) float span[kRoom];
  alignas(64) float weight[kRoom];
  for (int32_t i = 0; i < padded; i += W) {
    const L p = (L::splat(static_cast<float>(first + i)) + lane) - shift;
    const L j4 = L::load(column + i);
    L lo;
    L hi;
    if constexpr (kColumnsInLanes) {
      lo = columnAt.at(j4);
      hi = columnAt.at(j4 + one);
    } else if constexpr (kWindowed<L>) {
      // The bands' columns rise: mostly they lie within a window of the columns.
      const int32_t low = static_cast<int32_t>(column[i]);
      const int32_t spread = static_cast<int32_t>(column[i + W - 1]) - low;
      if (spread < L::Window::kNearReach) {
        const typename L::Window window(j4, low);
        lo = window.atNear(windowColumns);
        hi = window.atNear(windowColumns + 1);
      } else if (spread < L::Window::kReach) {
        const typename L::Window window(j4, low);
        lo = window.at(windowColumns);
        hi = window.at(windowColumns + 1);
      } else {
        copyColumns(i, i + W);
        lo = L::load(below + i);
        hi = L::load(above + i);
      }
    } else {
      lo = L::load(below + i);
      hi = L::load(above + i);
    }
    const L gap = hi - lo;
    const L q = lanesSelect(lanesLess(zero, gap), (p - lo) / gap + j4, j4);
    L kappa = q * L::splat(0.125f);
    kappa = lanesSelect(lanesLessEqual(zero, kappa), kappa, zero);
    kappa = lanesSelect(lanesLess(lastCurve, kappa), lastCurve, kappa);
    const L k = lanesMin(lanesTruncate(kappa), lastSpan);
    lanesStore(span + i, k);
    lanesStore(weight + i, kappa - k);
  }
  float rateBelow[kRatesInLanes ? 1 : kRoom];
  float rateAbove[kRatesInLanes ? 1 : kRoom];
  if constexpr (!kRatesInLanes) {
    for (int32_t i = 0; i < padded; ++i) {
      const int32_t k = static_cast<int32_t>(span[i]);
      rateBelow[i] = rates[k];
      rateAbove[i] = rates[k + 1];
    }
  }

  // The rates between the two curves, times the density above the baseline.
  const L baseline = L::splat(kDensityBaseline);
  [[maybe_unused]] const typename L::SmallTable rateAt(rates, kCurves);
  auto group = [&](int32_t i, const float* densityIn, float* amplitudeOut, float* excessOut) {
    L low;
    L high;
    if constexpr (kRatesInLanes) {
      const L k = L::load(span + i);
      low = rateAt.at(k);
      high = rateAt.at(k + one);
    } else {
      low = L::load(rateBelow + i);
      high = L::load(rateAbove + i);
    }
    const L w = L::load(weight + i);
    const L d = lanesMax(L::load(densityIn) - baseline, zero);
    lanesStore(amplitudeOut, d * ((one - w) * low + w * high));
    lanesStore(excessOut, d);
  };
  const int32_t whole = count / W * W;
  alignas(64) float excessCopy[W];
  for (int32_t i = 0; i < whole; i += W) {
    group(i, density + first + i, out + first + i, scratch != nullptr ? scratch + first + i : excessCopy);
  }
  if (whole < count) {
    // A last, partial group works on copies, so nothing past the bands is read or written.
    const int32_t here = count - whole;
    alignas(64) float densityCopy[W];
    alignas(64) float amplitudeCopy[W];
    for (int32_t l = 0; l < W; ++l) densityCopy[l] = density[first + whole + (l < here ? l : here - 1)];
    group(whole, densityCopy, amplitudeCopy, excessCopy);
    for (int32_t l = 0; l < here; ++l) {
      out[first + whole + l] = amplitudeCopy[l];
      if (scratch != nullptr) scratch[first + whole + l] = excessCopy[l];
    }
  }
}

// The segments of the walk over n knots. Every lane group runs whole: the knots are copied
// with the last one repeated, every loop reads only what an earlier one wrote, and what lies
// past the segments is never used.
template <class L>
void knotSegments(const float* knots, int32_t n, KnotSegments& t) {
  constexpr int32_t W = L::kWidth;
  constexpr float kMinWidth = 1e-9f;  // KnotIntegrator::kMinWidth
  const int32_t segments = n + 1;
  // Lane groups cover the segments and the entry after them.
  const int32_t covered = (segments + 2 + W - 1) / W * W;
  static_assert(KnotSegments::kRoom >= (KnotSegments::kMaxKnots + 3 + 15) / 16 * 16 + 2 * 16, "room for the groups");
  alignas(64) float k[KnotSegments::kRoom];
  int32_t i = 0;
  for (; i + W <= n; i += W) lanesStore(k + i, L::load(knots + i));
  for (; i < n; ++i) k[i] = knots[i];
  // The last knot repeated up to two groups past the covered ones.
  const L last = L::splat(knots[n - 1]);
  for (i = n; i + W <= covered + 2 * W; i += W) lanesStore(k + i, last);
  lanesStore(k + covered + W, last);

  // Segment s >= 0 spans width[s + 1] = gap min(s, n - 2); the one after it is gap
  // min(s + 1, n - 2), the one before it gap s - 1 (the first gap for segment 0). A NaN gap
  // takes the floor too.
  const L minWidth = L::splat(kMinWidth);
  for (i = 0; i < covered + W; i += W) {
    lanesStore(t.width + i + 1, lanesMax(minWidth, L::load(k + i + 1) - L::load(k + i)));
  }
  t.width[n] = t.width[n - 1];
  const float first = t.width[1];
  t.width[0] = first;
  t.width[segments] = t.width[n];

  // Half the inverse width of every segment, once: it serves the segment before and after.
  alignas(64) float halfInverse[KnotSegments::kRoom];
  const L half = L::splat(0.5f);
  for (i = 0; i < covered + W; i += W) lanesStore(halfInverse + i, half / L::load(t.width + i));
  // Segment -1 is the virtual one before the first knot.
  t.a[0] = 0.0f;
  t.b[0] = 1.0f / first;
  t.d[0] = 0.0f;
  t.mean[0] = first * 0.0f + 0.0f;
  const L one = L::splat(1.0f);
  const L two = L::splat(2.0f);
  const L fifth = L::splat(0.2f);
  // A running sum's steps from j up to to; a whole group of them goes without a loop.
  auto run = [](float* sums, const float* terms, float sum, int32_t& j, int32_t to) {
    if (to - j == W) {
      for (int32_t k = 0; k < W; ++k) {
        sum = sum + terms[j + k - 1];
        sums[j + k] = sum;
      }
      j += W;
      return sum;
    }
    for (; j < to; ++j) {
      sum = sum + terms[j - 1];
      sums[j] = sum;
    }
    return sum;
  };
  // The positions and the areas add up in order, so every start and base is the walk's to
  // the last bit. These two chains are what takes the time: each runs a group at a time
  // inside the loops whose divisions it would otherwise wait behind. The positions need only
  // the widths.
  float start = -first;
  t.start[0] = start;
  int32_t j = 1;
  for (i = 1; i < covered; i += W) {
    const L w = L::load(t.width + i);
    const L nw = L::load(t.width + i + 1);
    lanesStore(t.b + i, (w * w + nw * nw) / (nw * w * (nw + w)));
    const L e = (L::load(halfInverse + i - 1) + L::load(halfInverse + i + 1)) * w;
    lanesStore(t.d + i, (e * e - one) * fifth);
    start = run(t.start, t.width, start, j, i + W < segments ? i + W : segments);
  }
  // The areas' chain runs a group behind the areas it adds, so it never waits on a division.
  alignas(64) float area[KnotSegments::kRoom];
  area[0] = t.mean[0] * t.width[0];
  float base = 0.0f;
  t.base[0] = base;
  j = 1;
  for (i = 1; i < covered; i += W) {
    const L a = L::load(t.b + i - 1);
    lanesStore(t.a + i, a);
    const L mean = (a + L::load(t.b + i)) / (L::load(t.d + i) + two);
    lanesStore(t.mean + i, mean);
    lanesStore(area + i, mean * L::load(t.width + i));
    base = run(t.base, area, base, j, i < segments ? i : segments);
  }
  run(t.base, area, base, j, segments);
}

template <class L>
void knotDensity(const float* knots, int32_t n, float* out, int32_t bins, float scale, float t0, float step) {
  constexpr int32_t W = L::kWidth;
  KnotSegments table;
  knotSegments<typename SegmentLanesOf<L>::type>(knots, n, table);
  constexpr int32_t kRoom = VoiceFrameKernels::kMaxDensityBins + 1 + W;
  const int32_t count = bins + 1;
  const int32_t padded = (count + W - 1) / W * W;
  // The walk gives each grid position its segment; F is then evaluated a lane group of
  // positions at a time with the walk's arithmetic. Lanes that cannot look the segment's
  // values up at once get them copied by the walk.
  constexpr bool kLookUp = L::Table::kInRegisters;
  constexpr int32_t kCopied = kLookUp ? 1 : kRoom;
  alignas(64) float position[kRoom];
  float width[kCopied];
  float start[kCopied];
  float base[kCopied];
  float a[kCopied];
  float mean[kCopied];
  float d[kCopied];
  // Segment s ends where segment s + 1 starts. On a grid of whole positions with a step of 1
  // the position at which each end is passed is known at once (t >= end from ceil(end) on),
  // and every position is exact; otherwise the walk is made.
  alignas(64) float segmentAt[kRoom];
  bool direct = step == 1.0f && t0 < kFarBeyond && t0 > -kFarBeyond &&
                t0 == static_cast<float>(static_cast<int32_t>(t0));
  const float* ends = table.start + 1;
  int32_t s = 0;
  alignas(64) float reach[KnotSegments::kMaxKnots + W];
  if (direct) {
    const L far = L::splat(kFarBeyond);
    const L origin = L::splat(t0);
    const L last = L::splat(static_cast<float>(count));
    for (; direct && s + W <= n; s += W) {
      const L end = L::load(ends + s);
      direct = lanesBitsLessEqual(end, end) == (1ull << W) - 1u;  // no NaN
      const L up = -lanesFloor(-lanesMax(lanesMin(end, far), -far));
      lanesStore(reach + s, lanesMin(lanesMax(up - origin, L::zero()), last));
    }
  }
  for (; direct && s < n; ++s) {
    direct = ends[s] == ends[s];
    const float far = ends[s] < kFarBeyond ? (ends[s] > -kFarBeyond ? ends[s] : -kFarBeyond) : kFarBeyond;
    float up = static_cast<float>(static_cast<int32_t>(far));
    up += up < far ? 1.0f : 0.0f;
    const float whole = up - t0;
    reach[s] = whole < 0.0f ? 0.0f : (whole > static_cast<float>(count) ? static_cast<float>(count) : whole);
  }
  // On the grid the positions are t0 + i, exact for every whole i, and made where they are used.
  const L origin = L::splat(t0);
  const L lane = L::load(kLaneIndex);
  if (direct) {
    spreadPassed<L>(reach, n, count, segmentAt);
  } else {
    int32_t segment = 0;
    float t = t0;
    for (int32_t i = 0; i < count; ++i) {
      while (segment < n && t >= table.start[segment] + table.width[segment]) ++segment;
      segmentAt[i] = static_cast<float>(segment);
      position[i] = t;
      t += step;
    }
  }
  for (int32_t i = count; i < padded; ++i) {
    if (!direct) position[i] = position[count - 1];
    segmentAt[i] = segmentAt[count - 1];
  }
  auto copy = [&](int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) {
      const int32_t segment = static_cast<int32_t>(segmentAt[i]);
      if constexpr (!kLookUp) {
        width[i] = table.width[segment];
        start[i] = table.start[segment];
        base[i] = table.base[segment];
        a[i] = table.a[segment];
        mean[i] = table.mean[segment];
        d[i] = table.d[segment];
      }
    }
  };
  if constexpr (!kLookUp && !kWindowed<L>) copy(0, padded);

  const int32_t segments = n + 1;
  [[maybe_unused]] const typename L::Table widthAt(table.width, segments);
  [[maybe_unused]] const typename L::Table startAt(table.start, segments);
  [[maybe_unused]] const typename L::Table baseAt(table.base, segments);
  [[maybe_unused]] const typename L::Table aAt(table.a, segments);
  [[maybe_unused]] const typename L::Table meanAt(table.mean, segments);
  [[maybe_unused]] const typename L::Table dAt(table.d, segments);
  const L zero = L::zero();
  alignas(64) float f[kRoom];
  for (int32_t i = 0; i < padded; i += W) {
    L w, s0, b0, a0, m0, d0;
    if constexpr (kLookUp) {
      const L k = L::load(segmentAt + i);
      w = widthAt.at(k);
      s0 = startAt.at(k);
      b0 = baseAt.at(k);
      a0 = aAt.at(k);
      m0 = meanAt.at(k);
      d0 = dAt.at(k);
    } else if constexpr (kWindowed<L>) {
      // The group's segments rise: mostly they lie within a window of the tables.
      const int32_t low = static_cast<int32_t>(segmentAt[i]);
      const int32_t spread = static_cast<int32_t>(segmentAt[i + W - 1]) - low;
      auto readTables = [&](auto read) {
        w = read(table.width);
        s0 = read(table.start);
        b0 = read(table.base);
        a0 = read(table.a);
        m0 = read(table.mean);
        d0 = read(table.d);
      };
      if (spread < L::Window::kNearReach) {
        const typename L::Window window(L::load(segmentAt + i), low);
        readTables([&window](const float* values) { return window.atNear(values); });
      } else if (spread < L::Window::kReach) {
        const typename L::Window window(L::load(segmentAt + i), low);
        readTables([&window](const float* values) { return window.at(values); });
      } else {
        copy(i, i + W);
        w = L::load(width + i);
        s0 = L::load(start + i);
        b0 = L::load(base + i);
        a0 = L::load(a + i);
        m0 = L::load(mean + i);
        d0 = L::load(d + i);
      }
    } else {
      w = L::load(width + i);
      s0 = L::load(start + i);
      b0 = L::load(base + i);
      a0 = L::load(a + i);
      m0 = L::load(mean + i);
      d0 = L::load(d + i);
    }
    // A position behind its segment's start (a NaN) is held at the start.
    // (Past the last position a group computes values nothing reads.)
    L u = (direct ? origin + (L::splat(static_cast<float>(i)) + lane) : L::load(position + i)) - s0;
    u = lanesSelect(lanesLess(zero, u), u, zero);
    const L linear = lanesSelect(lanesLessEqual(u, w), a0 * (w - u) + m0 * u, a0 * w + (m0 - a0) * u);
    lanesStore(f + i, b0 + linear * w * u / (u * d0 * (w - u) + w * w));
  }
  const L scaleLanes = L::splat(scale);
  int32_t i = 0;
  for (; i + W <= bins; i += W) lanesStore(out + i, (L::load(f + i + 1) - L::load(f + i)) * scaleLanes);
  for (; i < bins; ++i) out[i] = (f[i + 1] - f[i]) * scale;
}

template <class L>
void scaleBands(float* out, int32_t count, float gain, bool square) {
  constexpr int32_t W = L::kWidth;
  const L g = L::splat(gain);
  int32_t i = 0;
  if (square) {
    for (; i + W <= count; i += W) {
      const L x = L::load(out + i) * g;
      lanesStore(out + i, x * x);
    }
    for (; i < count; ++i) {
      const float x = out[i] * gain;
      out[i] = x * x;
    }
  } else {
    for (; i + W <= count; i += W) lanesStore(out + i, L::load(out + i) * g);
    for (; i < count; ++i) out[i] *= gain;
  }
}

template <class L>
void weighBands(float* out, const float* weights, int32_t count, bool square) {
  constexpr int32_t W = L::kWidth;
  int32_t i = 0;
  for (; i + W <= count; i += W) {
    const L x = L::load(out + i) * L::load(weights + i);
    lanesStore(out + i, square ? x * x : x);
  }
  for (; i < count; ++i) {
    out[i] *= weights[i];
    if (square) out[i] *= out[i];
  }
}

// Columns per spline step of the pitch offsets: 6 steps over the 48 column gaps, just short.
constexpr float kOffsetStepsPerColumn = 0.124875f;
constexpr int32_t kSplineColumns = kMixedColumns + 1;
constexpr int32_t kSplineOffsets = 8;  // the offsets a column's step and its neighbours reach
// Per column: the spline step below it (as a float, for the lanes) and the weights of the
// offset at that step, the one after and the one before.
struct alignas(64) OffsetSpline {
  float step[kSplineColumns];
  float at[kSplineColumns];
  float after[kSplineColumns];
  float before[kSplineColumns];
  constexpr OffsetSpline() : step(), at(), after(), before() {
    for (int32_t j = 0; j < kSplineColumns; ++j) {
      const float y = static_cast<float>(j) * kOffsetStepsPerColumn;
      const int32_t n = static_cast<int32_t>(y);
      const float w = y - static_cast<float>(n);
      const float w2 = w * w;
      step[j] = static_cast<float>(n);
      at[j] = 2.0f * (w - w2) + 1.0f;
      after[j] = w2;
      before[j] = 1.0f - 2.0f * w + w2;
    }
  }
};
inline constexpr OffsetSpline kOffsetSpline{};

template <class L>
void spreadOffsets(const float* offsets, float* columns) {
  constexpr int32_t W = L::kWidth;
  static_assert(kMixedColumns % W == 0, "whole lane groups");
  // Offset n - 1 of a column at step n lies at offsets[n].
  const typename L::SmallTable offsetAt(offsets, kSplineOffsets);
  const L one = L::splat(1.0f);
  const L half = L::splat(0.5f);
  for (int32_t j = 0; j < kMixedColumns; j += W) {
    const L before = L::load(kOffsetSpline.step + j);
    const L at = before + one;
    const L spread = L::load(kOffsetSpline.at + j) * offsetAt.at(at) +
                     L::load(kOffsetSpline.after + j) * offsetAt.at(at + one) +
                     L::load(kOffsetSpline.before + j) * offsetAt.at(before);
    lanesStore(columns + j, L::load(columns + j) + half * spread);
  }
  for (int32_t j = kMixedColumns; j < kSplineColumns; ++j) {
    const int32_t n = static_cast<int32_t>(kOffsetSpline.step[j]) + 1;
    columns[j] += 0.5f * (kOffsetSpline.at[j] * offsets[n] + kOffsetSpline.after[j] * offsets[n + 1] +
                          kOffsetSpline.before[j] * offsets[n - 1]);
  }
}

// The contrast curve a lane group at a time, with the curve's arithmetic for every value; the
// values past the last whole group take the curve itself.
template <class L>
void contrastBands(float* values, int32_t count, float amount) {
  constexpr int32_t W = L::kWidth;
  const int32_t whole = count > 0 ? count / W * W : 0;
  const L zero = L::zero();
  const L one = L::splat(1.0f);
  if (amount > 0.0f) {
    const L threshold = L::splat(0.1f * amount);
    const L scale = L::splat(amount);
    for (int32_t i = 0; i < whole; i += W) {
      const L x = L::load(values + i);
      const L above = x - threshold;
      const L y = lanesSelect(lanesLess(above, zero), zero, above);
      const L knee =
          (L::splat(0.1f) * y + one) * y * y / ((L::splat(0.4f) * y + L::splat(0.4f)) * y + L::splat(0.15f));
      lanesStore(values + i, x + scale * (knee - x));
    }
  } else if (amount < 0.0f) {
    const float k = -amount;
    const float width = 0.1f - 0.08f * k;
    const L width2 = L::splat(width * width);
    const L keep = L::splat(1.0f - k);
    const L lift = L::splat(0.2f * k);
    for (int32_t i = 0; i < whole; i += W) {
      const L x = L::load(values + i);
      lanesStore(values + i, x * (keep + lift * x / (x * x + width2)));
    }
  }
  applyContrast(values + whole, count - whole, amount);
}

template <class L>
constexpr VoiceFrameKernels kernelsFor() {
  return {&columnFrequencies<L>, &bandAmplitudes<L>, &knotDensity<L>, &scaleBands<L>, &weighBands<L>,
          &spreadOffsets<L>, &contrastBands<L>};
}

}  // namespace voiceframe
