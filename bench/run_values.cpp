#include "run_values.h"

#include <cmath>

namespace bench {

Samples Each(const std::vector<Run>& runs, RunValue value) {
    Samples v;
    for (const Run& r : runs) v.push_back(value(r));
    return v;
}

const Stage* StageOf(const Run& r, const char* name, int nth) {
    for (const Stage& s : r.stages)
        if (s.name == name && nth-- == 0) return &s;
    return nullptr;
}

double Step10(const Run& r) { return std::isnan(r.pix10) ? r.pos10 : r.pix10; }
double Step30(const Run& r) { return std::isnan(r.pix30) ? r.pos30 : r.pix30; }

double FirstStepAfterWindow(const Run& r) { return Step10(r) - r.window; }

double FirstStepAfterArming(const Run& r) {
    // The timer is the form's last control: armed as the form is finished.
    const Stage* form = StageOf(r, "form");
    return form ? Step10(r) - form->end : kNotSeen;
}

double BareTimer(const Run& r) {
    const Stage* form = StageOf(r, "form");
    return form ? r.stamp - form->end : kNotSeen;
}

double FirstHold(const Run& r) { return Step30(r) - Step10(r); }
double SecondHold(const Run& r) { return r.stamp - Step30(r); }

}  // namespace bench
