// The start-up stages: the staged launcher's marks and the bare window's, side by side.
#include "figures.h"

namespace bench {

namespace {

double Length(const Run& r, const char* name, int nth) {
    const Stage* s = StageOf(r, name, nth);
    return s ? s->end - s->begin : kNotSeen;
}

// What the stages named `name` took while the form was built.
double WithinForm(const Run& r, const char* name) {
    const Stage* form = StageOf(r, "form");
    if (!form) return kNotSeen;
    double sum = 0;
    for (const Stage& s : r.stages)
        if (s.name == name && s.begin >= form->begin && s.end <= form->end) sum += s.end - s.begin;
    return sum;
}

constexpr StageRow kStages[] = {
    {"stage_entry", "process start -> wWinMain",
     [](const Run& r) {
         const Stage* s = StageOf(r, "start-up");
         return s ? s->begin : kNotSeen;
     }},
    {"stage_startup", "toolkit start-up (comctl32)", [](const Run& r) { return Length(r, "start-up", 0); }},
    {"stage_picture_banner", "picture: banner, decode + scale", [](const Run& r) { return Length(r, "picture", 0); }},
    {"stage_picture_logo", "picture: logo, decode + scale", [](const Run& r) { return Length(r, "picture", 1); }},
    {"stage_fonts", "fonts (all labels and the form)", [](const Run& r) { return WithinForm(r, "font"); }},
    {"stage_window_controls", "window and controls (form less the above)",
     [](const Run& r) { return Length(r, "form", 0) - WithinForm(r, "font") - WithinForm(r, "picture"); }},
    {"stage_show", "form built -> first paint (centre, show)",
     [](const Run& r) {
         const Stage *form = StageOf(r, "form"), *paint = StageOf(r, "paint");
         return form && paint ? paint->begin - form->end : kNotSeen;
     }},
    {"stage_first_paint", "first paint", [](const Run& r) { return Length(r, "paint", 0); }},
    {"stage_paint_to_ready", "first paint -> ready for input",
     [](const Run& r) {
         const Stage* s = StageOf(r, "paint");
         return s ? r.ready - s->end : kNotSeen;
     }},
    {"stage_ready", "= ready for input", Ready},
};

}  // namespace

std::span<const StageRow> StageRows() { return kStages; }

StageStats Summarise(const Results& r, const StageRow& row) {
    const Samples launcher = Each(r.runs[kStaged], row.value), bare = Each(r.runs[kBare], row.value);
    return {Summarise(launcher), Summarise(bare), Summarise(Differences(launcher, bare))};
}

}  // namespace bench
