#include "KernelCode.h"

bool runsAvx2(KernelCode code) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2 && code != KernelCode::Portable;
#else
    (void)code;
    return false;
#endif
}
