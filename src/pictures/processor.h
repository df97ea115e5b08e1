#pragma once

// What the processor can run, for loops that have a faster form built for SSE2 whatever the
// build's own target (the shipped 32-bit build targets plain i686).

#if defined(__i386__) || defined(__x86_64__)
#define PICTURES_HAVE_SSE2 1
// Marks a function built for SSE2; call it only where LoopFormFor gives kSse2.
#define PICTURES_SSE2 __attribute__((target("sse2")))
// The same SSE2 loops in AVX's (VEX) encoding; call it only where LoopFormFor gives kVex. Once
// libjpeg has decoded with AVX2 in the process, SSE2's own encoding was measured at half its
// speed (vzeroupper did not help); the VEX encoding keeps its speed.
#define PICTURES_VEX __attribute__((target("avx")))
#endif

namespace pictures {

// Which row loops a scaler runs: the best the processor has (on x86, checked at run time: the
// SSE2 loops in the VEX encoding where it has AVX, else in SSE2's own), SSE2's own encoding as
// processors without AVX run it, or plain C++ for any processor. All give the same pixels.
enum class Instructions { kBest, kSse2, kPortable };

// The form of the row loops that `instructions` asks for on this processor.
enum class LoopForm { kPortable, kSse2, kVex };
LoopForm LoopFormFor(Instructions instructions);

// Of one set of loops in its three forms, the one `instructions` asks for on this processor.
template <class Loops>
Loops ChooseLoops(Instructions instructions, Loops vex, Loops sse2, Loops portable) {
    switch (LoopFormFor(instructions)) {
        case LoopForm::kVex:
            return vex;
        case LoopForm::kSse2:
            return sse2;
        case LoopForm::kPortable:
            break;
    }
    return portable;
}

}  // namespace pictures
