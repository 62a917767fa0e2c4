#include "ChainFloor.h"

#include "dsp/TriodeStage.h"

#include <cstring>
#include <emmintrin.h>

namespace chainFloor {

// Out of line, so that the caller's loop cannot be folded into it; the
// table and the inputs are memory the compiler knows nothing of, so each
// step's load waits for the index the step before made (check with
// objdump -d z5r_bench: the loop is the chain's instructions and the loop
// count, the input loads and the constants beside it).
[[gnu::noinline]] void run(const TriodeTables& tables, const double (*inputs)[2], int32_t steps,
                           double (&cathode)[2]) noexcept
{
    const char* table = reinterpret_cast<const char*>(tables.cathode.data());
    const __m128d chargeShift = _mm_set1_pd(tables.chargeShift);
    const __m128d decay = _mm_set1_pd(tables.cathodeDecay);
    const __m128d low = _mm_set1_pd(stage::kTableLowVolts);
    const __m128d perVolt = _mm_set1_pd(stage::kEntriesPerVolt);
    __m128d a = _mm_loadu_pd(cathode);
    for (int32_t i = 0; i < steps; ++i) {
        const __m128d p =
            _mm_mul_pd(_mm_sub_pd(_mm_add_pd(_mm_mul_pd(a, chargeShift), _mm_loadu_pd(inputs[i])), low), perVolt);
        const int64_t left = _mm_cvttsd_si64(p);
        const int64_t right = _mm_cvttsd_si64(_mm_unpackhi_pd(p, p));
        const __m128d f = _mm_sub_pd(p, _mm_cvtepi32_pd(_mm_cvttpd_epi32(p)));
        const double* l = reinterpret_cast<const double*>(table + sizeof(CubicEntry) * static_cast<size_t>(left));
        const double* r = reinterpret_cast<const double*>(table + sizeof(CubicEntry) * static_cast<size_t>(right));
        const __m128d l01 = _mm_loadu_pd(l), l23 = _mm_loadu_pd(l + 2);
        const __m128d r01 = _mm_loadu_pd(r), r23 = _mm_loadu_pd(r + 2);
        const __m128d y1 = _mm_unpacklo_pd(l01, r01), c1 = _mm_unpackhi_pd(l01, r01);
        const __m128d c2 = _mm_unpacklo_pd(l23, r23), c3 = _mm_unpackhi_pd(l23, r23);
        const __m128d poly =
            _mm_add_pd(y1, _mm_mul_pd(_mm_add_pd(_mm_mul_pd(_mm_add_pd(_mm_mul_pd(c3, f), c2), f), c1), f));
        a = _mm_add_pd(_mm_add_pd(poly, _mm_mul_pd(a, decay)), a);
    }
    _mm_storeu_pd(cathode, a);
}

bool matchesStage(const TriodeTables& tables, const double (*inputs)[2], int32_t steps,
                  const double (&cathode)[2]) noexcept
{
    double probe[2] = {cathode[0], cathode[1]};
    const stage::StepTables t(tables);
    Lane2 a = Lane2::load(cathode, 0);
    for (int32_t i = 0; i < steps; ++i) {
        // The stage's own step, clamp and all: a position outside the table
        // would make the two differ.
        const Lane2 vin = Lane2::load(inputs[i], 0);
        const auto at = stage::positionOf(((a * Lane2::load(t.chargeShift, 0) + vin) - Lane2(stage::kTableLowVolts)) *
                                              Lane2(stage::kEntriesPerVolt),
                                          t.lastEntry);
        if (at.index[0] < 0 || at.index[0] >= kTableSize - 1 || at.index[1] < 0 || at.index[1] >= kTableSize - 1)
            return false;
        a = stage::cathodeAfter<false>(t, a, vin);
    }
    run(tables, inputs, steps, probe);
    double stageEnd[2];
    a.store(stageEnd, 0);
    return std::memcmp(probe, stageEnd, sizeof probe) == 0;
}

}  // namespace chainFloor
