// The program cases: the program run as a child process with a case's arguments and environment,
// against the inspector the case scripts, and judged by its status, output, requests and time.
#pragma once

#include <chrono>
#include <string>

#include "case_file.h"
#include "case_report.h"

namespace quelby::cases {

struct ProgramOptions {
    std::string program;  // the path of the program under test
    // Added to every upper time bound: a program started through an emulator starts slower.
    std::chrono::milliseconds time_slack{0};
};

// True for a section that is a program case (it has an "arguments" setting).
bool is_program_case(const Section& section);

// Runs every program case of `file`; the number of cases run.
int run_program_cases(const CaseFile& file, const ProgramOptions& options, Tally& tally);

}  // namespace quelby::cases
