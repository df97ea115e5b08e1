#pragma once
// What one run gives, in ms after its start unless said: the readings the figures, the goals and
// the stage table are made of.

#include <vector>

#include "runs.h"
#include "statistics.h"

namespace bench {

using RunValue = double (*)(const Run&);

Samples Each(const std::vector<Run>& runs, RunValue value);

// The nth stage named `name` in the run's log, or null.
const Stage* StageOf(const Run& r, const char* name, int nth = 0);

inline double Ready(const Run& r) { return r.ready; }
inline double Window(const Run& r) { return r.window; }
inline double Stamp(const Run& r) { return r.stamp; }  // the product's start, or the bare window's return
inline double Exit(const Run& r) { return r.exit; }
inline double Committed(const Run& r) { return r.pagefileUp; }  // MiB
inline double Teardown(const Run& r) { return r.exit - r.stamp; }

// The bar's steps as drawn on screen, or as PBM_GETPOS read them where the screen was not read.
double Step10(const Run& r);
double Step30(const Run& r);

double FirstStepAfterWindow(const Run& r);
double FirstStepAfterArming(const Run& r);  // of the staged build, whose log says when the form was done
double FirstHold(const Run& r);
double SecondHold(const Run& r);
// The bare window's 1-s timer, from its arming (the end of its form) to its wWinMain's return.
double BareTimer(const Run& r);

}  // namespace bench
