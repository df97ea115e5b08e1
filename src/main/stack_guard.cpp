// The stack protector's canary and failure handler, in place of GCC's libssp. libssp seeds the
// canary through CryptAcquireContext, which loads a cryptographic provider at every start (about
// 35 ms of the launcher's start-up under Wine); RtlGenRandom gives the same randomness at once.
#include <windows.h>
#include <ntsecapi.h>  // RtlGenRandom: advapi32's SystemFunction036

#include <cstdint>

extern "C" {

// Read by every protected function. The compiler names it; it is set before any of them runs.
std::uintptr_t __stack_chk_guard = 0;

[[noreturn]] void __stack_chk_fail() {
    // The stack cannot be trusted: say why for a debugger and end at once, as Windows' own check does.
    OutputDebugStringA("*** stack smashing detected ***: terminated\n");
    constexpr UINT kStackBufferOverrun = 0xC0000409;
    TerminateProcess(GetCurrentProcess(), kStackBufferOverrun);
    __builtin_trap();
}

}  // extern "C"

namespace {

// The first constructor of all, so no protected function is on the stack while the canary changes.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
    std::uintptr_t seed = 0;
    if (!RtlGenRandom(&seed, sizeof seed) || seed == 0) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        seed = static_cast<std::uintptr_t>(now.QuadPart) ^ (std::uintptr_t{GetCurrentProcessId()} << 16) ^ 0x2F8A6D15u;
    }
    __stack_chk_guard = seed;
}

}  // namespace
