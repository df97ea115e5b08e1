#pragma once
// Start-up stages, timed by the benchmark's own build of the launcher (bench/CMakeLists.txt).
// Every other build compiles them to nothing.

namespace toolkit {

#ifdef VELQUOR_STAGE_TIMES
void BeginStage(const char* name);  // defined by the benchmark
void EndStage(const char* name);
#else
inline void BeginStage(const char*) {}
inline void EndStage(const char*) {}
#endif

// Times the enclosing block as the stage `name`.
class StageScope {
public:
    explicit StageScope(const char* name) : name_(name) { BeginStage(name_); }
    ~StageScope() { EndStage(name_); }
    StageScope(const StageScope&) = delete;
    StageScope& operator=(const StageScope&) = delete;

private:
    const char* name_;
};

}  // namespace toolkit
