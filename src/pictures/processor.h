#pragma once

// What the processor can run, for loops that have a faster form built for SSE2 whatever the
// build's own target (the shipped 32-bit build targets plain i686).

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define PICTURES_HAVE_SSE2 1
// Marks a function built for SSE2; call it only where ProcessorHasSse2().
#define PICTURES_SSE2 __attribute__((target("sse2")))
#endif

namespace pictures {

// Which row loops a scaler runs: the best the processor has (SSE2 on x86, checked at run time),
// or plain C++ for any processor. Both give the same pixels.
enum class Instructions { kBest, kPortable };

inline bool ProcessorHasSse2() {
#if defined(__SSE2__)
    return true;  // the build's own target
#elif defined(PICTURES_HAVE_SSE2)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2) != 0;
#else
    return false;
#endif
}

}  // namespace pictures
