#include "report.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace bench {

namespace {

// In the tables' order, as the printed report.
using json = nlohmann::ordered_json;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

// A figure of a table, blank where the run has none.
std::string Cell(double value, const char* format = "%.1f") {
    if (std::isnan(value)) return "";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

const char* Verdict(std::optional<bool> met) { return !met ? "n/a" : *met ? "yes" : "NO"; }

void PrintFigures(const Results& r) {
    std::printf("%-46s %10s %21s %4s\n", "figure", "median", "p10 - p90", "n");
    for (const Metric& m : Metrics()) {
        const Stat s = Summarise(m.read(r));
        std::printf("%-46s %8.2f %-4s %8.2f - %-9.2f %4d\n", m.label, s.median, m.unit, s.p10, s.p90, s.n);
    }
}

void PrintStages(const Results& r, const std::string& arch) {
    std::printf("\nStart-up stages, %s builds with stage marks (bench/stage_log.cpp), no product, medians in ms:\n",
                arch.c_str());
    std::printf("%-46s %9s %9s %12s %21s\n", "stage", "launcher", "bare", "difference", "(paired; p10 - p90)");
    for (const StageRow& row : StageRows()) {
        const StageStats s = Summarise(r, row);
        std::printf("%-46s %9s %9s %12s %9s - %-9s\n", row.label, Cell(s.launcher.median).c_str(),
                    Cell(s.bare.median).c_str(), Cell(s.difference.median, "%+.1f").c_str(),
                    Cell(s.difference.p10).c_str(), Cell(s.difference.p90).c_str());
    }
}

void PrintGoals(const Results& r, const std::string& arch) {
    std::printf("\nGoals for the %s build run here, each a ratio to a floor measured in this run:\n", arch.c_str());
    std::printf("%-52s %6s %13s %12s %4s  %s\n", "goal (median)", "ratio", "p10 - p90", "bound", "met",
                "floor (median, this run)");
    for (const Goal& g : Goals()) {
        const Stat ratio = Summarise(g.ratios(r));
        const bool spread = ratio.n > 1;  // a ratio of two single figures has none
        std::printf("%-52s %6s %6s - %-4s %12s %4s  %9s %-3s %s\n", g.label, Cell(ratio.median, "%.3f").c_str(),
                    Cell(spread ? ratio.p10 : kNotSeen, "%.2f").c_str(),
                    Cell(spread ? ratio.p90 : kNotSeen, "%.2f").c_str(), Bounds(g).c_str(),
                    Verdict(Met(g, ratio.median)), Cell(Median(g.floor(r)), "%.2f").c_str(), g.floorUnit, g.floorLabel);
    }
}

// Three decimals, as the figures are read; a figure not seen is null.
json Number(double value) { return std::isnan(value) ? json(nullptr) : json(std::round(value * 1000) / 1000); }

json Stats(const Stat& s) {
    return {{"median", Number(s.median)}, {"p10", Number(s.p10)}, {"p90", Number(s.p90)}, {"n", s.n}};
}

}  // namespace

void PrintReport(const Results& r, const Options& options, int rounds) {
    const std::string arch = Utf8(options.arch);
    std::printf("VELQUOR benchmark: N=%d, Wine, %s build run (medians; spread p10-p90)\n", rounds, arch.c_str());
    std::printf("build:   %s\n", arch == "i686" ? "i686, the shipped 32-bit build (build/i686)"
                                                : "x86_64 stand-in (build/x86_64): this machine cannot run the "
                                                  "shipped 32-bit build, so no figure here is the shipped build's");
    std::printf("machine: %s\n\n", Utf8(options.machine).c_str());
    PrintFigures(r);
    PrintStages(r, arch);
    PrintGoals(r, arch);
}

void WriteJson(const Results& r, const Options& options, int rounds) {
    json report = {{"n", rounds}, {"arch", Utf8(options.arch)}, {"machine", Utf8(options.machine)}};
    json& metrics = report["metrics"] = json::object();
    for (const Metric& m : Metrics()) {
        json figure = {{"label", m.label}, {"unit", m.unit}};
        figure.update(Stats(Summarise(m.read(r))));
        metrics[m.key] = figure;
    }
    json& stages = report["stages"] = json::object();
    for (const StageRow& row : StageRows()) {
        const StageStats s = Summarise(r, row);
        stages[row.key] = {{"label", row.label},
                           {"launcher", Stats(s.launcher)},
                           {"bare", Stats(s.bare)},
                           {"difference", Stats(s.difference)}};
    }
    json& goals = report["goals"] = json::object();
    for (const Goal& g : Goals()) {
        const Stat ratio = Summarise(g.ratios(r));
        const std::optional<bool> met = Met(g, ratio.median);
        goals[g.key] = {
            {"label", g.label},
            {"value", Number(ratio.median)},
            {"p10", Number(ratio.p10)},
            {"p90", Number(ratio.p90)},
            {"n", ratio.n},
            {"goal", Bounds(g)},
            {"met", met ? json(*met) : json(nullptr)},
            {"floor", {{"label", g.floorLabel}, {"unit", g.floorUnit}, {"median", Number(Median(g.floor(r)))}}}};
    }
    std::ofstream{std::filesystem::path(options.json)} << report.dump(2) << '\n';
}

}  // namespace bench
