#pragma once
// The report: the three tables printed, and written as JSON to the file --json names.

#include "figures.h"
#include "options.h"

namespace bench {

void PrintReport(const Results& results, const Options& options, int rounds);
void WriteJson(const Results& results, const Options& options, int rounds);

}  // namespace bench
