#pragma once
// Milliseconds on QueryPerformanceCounter, the clock the launcher's stage marks and the
// product's start stamp are written in.

#include <windows.h>

namespace bench {

class Clock {
public:
    Clock() {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        ticksPerMs_ = static_cast<double>(frequency.QuadPart) / 1000.0;
    }
    double Ms(long long ticks) const { return static_cast<double>(ticks) / ticksPerMs_; }
    double Now() const {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return Ms(t.QuadPart);
    }

private:
    double ticksPerMs_;
};

}  // namespace bench
