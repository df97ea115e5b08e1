// The stack protector's canary and failure handler, in place of GCC's libssp. libssp seeds the
// canary through CryptAcquireContext, which loads a cryptographic provider before the DLL search is
// narrowed, and lengthens every start with work the canary does not need. RtlGenRandom is no
// better: advapi32 forwards it to cryptbase.dll, which is not a known DLL, so the loader would look
// for it beside the exe. The seed is mixed, as the Visual C++ runtime seeds its /GS cookie, from
// what kernel32 alone gives.
#include <windows.h>
#include <intrin.h>

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

// Each source changes from start to start (clocks, ids) or with the image's and stack's random
// placement (ASLR); none is secret alone, mixed they are what an attacker must guess at once.
__attribute__((no_stack_protector)) std::uint64_t MixedSeed() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const std::uint64_t own = reinterpret_cast<std::uintptr_t>(&now);  // where ASLR put the stack
    std::uint64_t seed = (std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) ^ GetCurrentProcessId() ^
                         std::uint64_t{GetCurrentThreadId()} << 32 ^ GetTickCount64() ^
                         static_cast<std::uint64_t>(counter.QuadPart) << 16 ^ counter.QuadPart ^ __rdtsc() ^ own << 24 ^
                         reinterpret_cast<std::uintptr_t>(&MixedSeed);
    // A final avalanche (splitmix64's) so that every input bit moves every canary bit.
    seed = (seed ^ seed >> 30) * 0xBF58476D1CE4E5B9u;
    seed = (seed ^ seed >> 27) * 0x94D049BB133111EBu;
    return seed ^ seed >> 31;
}

// The first constructor of all, and the canary is set once, never changed: no protected function
// is on the stack yet, so none can return through a frame guarded by another value.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
    const std::uint64_t seed = MixedSeed();
    const auto canary = static_cast<std::uintptr_t>(seed ^ seed >> 32);  // folded into 32 bits on i686
    __stack_chk_guard = canary ? canary : 0x2F8A6D15u;                   // zero would guard nothing
}

}  // namespace
