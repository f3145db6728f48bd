#include "data/statistics.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/os/os.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {

namespace {

// Exact sums of a run of samples and its extremes.
struct Sums {
    uint64_t count = 0;
    uint64_t sum = 0;
    unsigned __int128 squares = 0;
    uint16_t min = 65535, max = 0;
};

void AddScalar(const uint16_t* data, size_t count, Sums* s) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = data[i];
        s->sum += v;
        s->squares += uint64_t(v) * v;
        if (v < s->min) s->min = v;
        if (v > s->max) s->max = v;
    }
    s->count += count;
}

#if defined(__SSE2__)
// Eight samples a step. Each sample is taken as a signed 16-bit value
// x - 32768 (its top bit flipped), which SSE2's signed minimum, maximum and
// multiply-add work on: pairs of samples and of their squares are summed
// into 32-bit lanes, the squares (at most 2 x 2^30, unsigned) widened to 64
// bits at once, the plain sums every block before they could overflow.
void AddVectors(const uint16_t* data, size_t count, Sums* s) {
    const __m128i flip = _mm_set1_epi16(int16_t(0x8000));
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_set1_epi16(0x7fff), high = _mm_set1_epi16(int16_t(0x8000));
    // A lane of the 32-bit sums gains at most 2 x 32768 a step.
    constexpr size_t kBlockSteps = 16384;
    int64_t shiftedSum = 0;       // of x - 32768
    uint64_t shiftedSquares = 0;  // of (x - 32768)^2: at most count x 2^30
    size_t i = 0;
    const size_t whole = count - count % 8;
    while (i < whole) {
        const size_t end = std::min(whole, i + 8 * kBlockSteps);
        __m128i sums = zero, squares = zero;
        for (; i < end; i += 8) {
            const __m128i v =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), flip);
            low = _mm_min_epi16(low, v);
            high = _mm_max_epi16(high, v);
            sums = _mm_add_epi32(sums, _mm_madd_epi16(v, ones));
            const __m128i pairs = _mm_madd_epi16(v, v);
            squares = _mm_add_epi64(squares, _mm_add_epi64(_mm_unpacklo_epi32(pairs, zero),
                                                           _mm_unpackhi_epi32(pairs, zero)));
        }
        alignas(16) int32_t lane32[4];
        alignas(16) uint64_t lane64[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(lane32), sums);
        _mm_store_si128(reinterpret_cast<__m128i*>(lane64), squares);
        shiftedSum += int64_t(lane32[0]) + lane32[1] + lane32[2] + lane32[3];
        shiftedSquares += lane64[0] + lane64[1];
    }
    alignas(16) int16_t lows[8], highs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lows), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(highs), high);
    for (int k = 0; k < 8 && whole > 0; ++k) {
        s->min = std::min<uint16_t>(s->min, uint16_t(lows[k] ^ int16_t(0x8000)));
        s->max = std::max<uint16_t>(s->max, uint16_t(highs[k] ^ int16_t(0x8000)));
    }
    // Back from x - 32768 to x.
    constexpr int64_t kShift = 32768;
    const __int128 n = __int128(whole);
    s->sum += uint64_t(shiftedSum + kShift * int64_t(whole));
    s->squares += (unsigned __int128)(__int128(shiftedSquares) + 2 * kShift * __int128(shiftedSum) +
                                      n * kShift * kShift);
    s->count += whole;
    AddScalar(data + whole, count - whole, s);
}
#endif

Sums SumsOf(const uint16_t* data, size_t count) {
    Sums s;
    if (!data || count == 0) return s;
#if defined(__SSE2__)
    AddVectors(data, count, &s);
#else
    AddScalar(data, count, &s);
#endif
    return s;
}

float MeanOf(const Sums& s) {
    if (s.count == 0) return 0.0f;
    return static_cast<float>(static_cast<double>(s.sum) / static_cast<double>(s.count));
}

// Sum of (x - mean)^2 = (n S2 - S1^2) / n + n (S1 / n - mean)^2: the first
// term in exact integers, the second a small correction.
float DeviationOf(const Sums& s, float mean) {
    if (s.count == 0) return 0.0f;
    const double n = static_cast<double>(s.count);
    const __int128 spread =
        __int128(s.count) * __int128(s.squares) - __int128(s.sum) * __int128(s.sum);
    const double offset = static_cast<double>(s.sum) / n - static_cast<double>(mean);
    const double squares = static_cast<double>(spread) / n + n * offset * offset;
    return static_cast<float>(std::sqrt(squares / n));
}

size_t PlaneSize(int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return size_t(width) * size_t(height);
}

}  // namespace

PlaneStatistics Statistics(const uint16_t* data, size_t count) {
    const Sums s = SumsOf(data, count);
    PlaneStatistics statistics;
    statistics.mean = MeanOf(s);
    statistics.stdev = DeviationOf(s, statistics.mean);
    statistics.min = s.min;
    statistics.max = s.max;
    return statistics;
}

void GetMinMax(const uint16_t* data, size_t count, uint16_t* min, uint16_t* max) {
    const Sums s = SumsOf(data, count);
    *min = s.min;
    *max = s.max;
}

float DataMean(int width, int height, const uint16_t* data) {
    return MeanOf(SumsOf(data, PlaneSize(width, height)));
}

float DataStdev(int width, int height, const uint16_t* data, float mean) {
    return DeviationOf(SumsOf(data, PlaneSize(width, height)), mean);
}

std::string TimeStamp() {
    const os::UtcTime t = os::UtcNow();
    return Format("%.2d.%.2d.%.2d-%.2d:%.2d:%.2d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

void marktime_start(std::string& text) {
    text = TimeStamp();
    os::QueryPerformanceCounter(&state.gliStart);
}

void marktime_end(std::string& text) {
    text = TimeStamp();
    os::QueryPerformanceCounter(&state.gliEnd);
}

float time_difference() {
    if (state.gliFreq <= 0) return 0.0f;
    return static_cast<float>(static_cast<double>(state.gliEnd - state.gliStart) /
                              static_cast<double>(state.gliFreq));
}

}  // namespace pelu
