// The engine's stage loop compiled with AVX2 (see engine/TubeEngineStage.h).
#include "engine/TubeEngineStage.h"

template void TubeEngine::runStage<true>(const float*, const float*, float*, float*, int32_t) noexcept;
