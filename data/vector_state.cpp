#include "data/vector_state.h"

namespace fa {

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

__attribute__((target("avx"))) void zeroUpper()
{
    __builtin_ia32_vzeroupper();
}

} // namespace

void ClearUpperVectorState()
{
    // libgcc also checks that the operating system saves the AVX registers.
    static const bool hasAvx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
    if (hasAvx)
        zeroUpper();
}

#else

void ClearUpperVectorState() {}

#endif

} // namespace fa
