// The plate lookup of both lanes as the stage's AVX2 build does it, for a
// test in the baseline build to compare with its own. Compiled
// with AVX2, and only called where the processor has it. Nothing here but
// the one function: everything it uses is forced inline.
#include "PlateLookupAvx2.h"

#include "dsp/TriodeStage.h"

namespace plateLookupAvx2 {

int32_t mismatches(const TriodeTables& tables, const double (*a)[2], const double (*vin)[2], int32_t count,
                   const double* baseline, bool guarded) noexcept
{
    const stage::StepTables t(tables);
    int32_t wrong = 0;
    for (int32_t k = 0; k < count; ++k) {
        const Lane2 plate = guarded ? stage::plateOf<true>(t, Lane2::load(a[k], 0), Lane2::load(vin[k], 0))
                                    : stage::plateOf<false>(t, Lane2::load(a[k], 0), Lane2::load(vin[k], 0));
        double both[2];
        plate.store(both, 0);
        for (int32_t lane = 0; lane < 2; ++lane) {
            uint64_t got, want;
            __builtin_memcpy(&got, &both[lane], sizeof got);
            __builtin_memcpy(&want, &baseline[2 * k + lane], sizeof want);
            if (got != want) ++wrong;
        }
    }
    return wrong;
}

}  // namespace plateLookupAvx2
