#pragma once
// The programs run and watched from outside: the launcher with and without its product, the bare
// window, the product alone and the launcher's staged build, once each per round.

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "statistics.h"

namespace bench {

// A start-up stage from the staged build's log (or the bare window's), ms after process start.
struct Stage {
    std::string name;
    double begin, end;
};

// One run, in ms after CreateProcess (kNotSeen: not seen).
struct Run {
    double ready = kNotSeen;       // WaitForInputIdle
    double window = kNotSeen;      // first seen by EnumWindows
    double pos10 = kNotSeen;       // PBM_GETPOS first reads >= 10
    double pos30 = kNotSeen;       // ... >= 30
    double pix10 = kNotSeen;       // the bar's fill seen on screen at 10 %
    double pix30 = kNotSeen;       // ... at 30 %
    double stamp = kNotSeen;       // the product's start, or the bare window's wWinMain return
    double exit = kNotSeen;        // process handle signalled
    double pagefileUp = kNotSeen;  // committed MiB, 500 ms after the window was seen
    DWORD exitCode = 0;
    std::vector<Stage> stages;
};

enum Kind { kLauncher, kNoProduct, kBare, kProductAlone, kStaged, kKinds };

// Indexed by Kind; the i-th run of every kind is of the same round.
using Runs = std::array<std::vector<Run>, kKinds>;

struct Programs {
    std::wstring launcher, bare, staged, product;
};

// N rounds, each program once per round, so paired runs share the moment's load.
Runs RunAll(const Programs& programs, int rounds);

}  // namespace bench
