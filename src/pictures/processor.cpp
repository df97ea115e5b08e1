#include "pictures/processor.h"

#ifdef PICTURES_HAVE_SSE2
#include <cpuid.h>
#endif

namespace pictures {
namespace {

bool ProcessorHasSse2() {
#if defined(__SSE2__)
    return true;  // the build's own target
#elif defined(PICTURES_HAVE_SSE2)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2) != 0;
#else
    return false;
#endif
}

// AVX in the processor, and a system that saves its registers on a task switch.
bool ProcessorHasAvx() {
#if defined(PICTURES_HAVE_SSE2)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6) == 6;  // XCR0: the SSE and AVX register states
#else
    return false;
#endif
}

}  // namespace

LoopForm LoopFormFor(Instructions instructions) {
    if (instructions == Instructions::kPortable || !ProcessorHasSse2()) return LoopForm::kPortable;
    if (instructions == Instructions::kBest && ProcessorHasAvx()) return LoopForm::kVex;
    return LoopForm::kSse2;
}

}  // namespace pictures
