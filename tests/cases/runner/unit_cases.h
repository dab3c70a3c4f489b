// The table cases: each row calls one function of the discovery library with the row's inputs and
// compares what it gives with the row's expected cells.
#pragma once

#include "case_file.h"
#include "case_report.h"

namespace quelby::cases {

// Runs every table of `file`; the number of cases run.
int run_table_cases(const CaseFile& file, Tally& tally);

}  // namespace quelby::cases
