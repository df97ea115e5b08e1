#pragma once
// The driver's command line: --name value pairs, every one of them given.

#include <string>

#include "statistics.h"

namespace bench {

struct Options {
    std::wstring launcher, bare, staged, product, shipped, banner, logo, json, n, arch, machine, cpuLauncher, cpuBare;
};

// False, with the usage printed, when an option is unknown, missing or has no value.
bool Parse(int argc, wchar_t** argv, Options& options);

// The numbers of a space-separated list, such as the CPU milliseconds of the runs.
Samples Numbers(const std::wstring& text);

}  // namespace bench
