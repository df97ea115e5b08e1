#include "options.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <sstream>

namespace bench {

namespace {

struct Option {
    const wchar_t* name;
    std::wstring Options::*field;
    const wchar_t* what;
};

constexpr Option kOptions[] = {
    {L"--launcher", &Options::launcher, L"the launcher's exe of the build run"},
    {L"--bare", &Options::bare, L"the bare window's exe"},
    {L"--staged", &Options::staged, L"the launcher's build with its stages marked"},
    {L"--product", &Options::product, L"the stand-in product's exe"},
    {L"--shipped", &Options::shipped, L"the shipped i686 exe (its size)"},
    {L"--banner", &Options::banner, L"the banner's file"},
    {L"--logo", &Options::logo, L"the logo's file"},
    {L"--json", &Options::json, L"where the figures are written"},
    {L"--n", &Options::n, L"runs of each program, at least 1"},
    {L"--arch", &Options::arch, L"the build run: i686 or x86_64"},
    {L"--machine", &Options::machine, L"the machine, in words"},
    {L"--cpu-launcher", &Options::cpuLauncher, L"CPU ms of launcher runs, from Linux rusage, space-separated"},
    {L"--cpu-bare", &Options::cpuBare, L"CPU ms of bare runs, likewise"},
};

void Usage() {
    std::fwprintf(stderr, L"usage: driver");
    for (const Option& o : kOptions) std::fwprintf(stderr, L" %ls VALUE", o.name);
    std::fwprintf(stderr, L"\n");
    for (const Option& o : kOptions) std::fwprintf(stderr, L"  %-16ls %ls\n", o.name, o.what);
}

bool Read(int argc, wchar_t** argv, Options& options) {
    if (argc % 2 == 0) return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [&](const Option& o) { return std::wcscmp(o.name, argv[i]) == 0; });
        if (option == std::end(kOptions)) return false;
        options.*(option->field) = argv[i + 1];
    }
    return std::all_of(std::begin(kOptions), std::end(kOptions),
                       [&](const Option& o) { return !(options.*(o.field)).empty(); }) &&
           std::wcstol(options.n.c_str(), nullptr, 10) >= 1;
}

}  // namespace

bool Parse(int argc, wchar_t** argv, Options& options) {
    if (Read(argc, argv, options)) return true;
    Usage();
    return false;
}

Samples Numbers(const std::wstring& text) {
    Samples values;
    std::wistringstream in(text);
    for (double v; in >> v;) values.push_back(v);
    return values;
}

}  // namespace bench
