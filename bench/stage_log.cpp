// Linked into the benchmark's build of the launcher: records when each start-up stage
// (toolkit/stage_scope.h) begins and ends, in QueryPerformanceCounter ticks, and once the first
// paint is done writes them to the file named by VELQUOR_STAGE_LOG, one "name begin end" line each.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "toolkit/stage_scope.h"

namespace {

struct Stage {
    const char* name;
    long long begin, end;
};

Stage g_stages[64];
int g_count = 0;
bool g_written = false;

long long Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

void WriteLog() {
    g_written = true;
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"VELQUOR_STAGE_LOG", path, MAX_PATH)) return;
    FILE* out = _wfopen(path, L"w");
    if (!out) return;
    for (int i = 0; i < g_count; ++i)
        std::fprintf(out, "%s %lld %lld\n", g_stages[i].name, g_stages[i].begin, g_stages[i].end);
    std::fclose(out);
}

}  // namespace

void toolkit::BeginStage(const char* name) {
    if (!g_written && g_count < static_cast<int>(std::size(g_stages))) g_stages[g_count++] = {name, Now(), 0};
}

void toolkit::EndStage(const char* name) {
    if (g_written) return;
    const long long now = Now();
    for (int i = g_count - 1; i >= 0; --i) {
        if (g_stages[i].end == 0 && std::strcmp(g_stages[i].name, name) == 0) {
            g_stages[i].end = now;
            break;
        }
    }
    if (std::strcmp(name, "paint") == 0) WriteLog();
}
