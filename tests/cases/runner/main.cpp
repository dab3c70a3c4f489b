// Runs the case files given on the command line (tests/cases/README.md) and prints a PASS or FAIL
// line per case, then the totals. Exit status 0 only when every case passed.
//
//   quelby_case_runner [--program PATH] [--time-slack MS] [--filter TEXT] FILE...
//
// --program is the program the program cases run; --time-slack is added to their upper time bounds;
// --filter runs only the cases whose name (file:line and title) contains TEXT.
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "case_file.h"
#include "case_report.h"
#include "program_cases.h"
#include "unit_cases.h"

namespace {

int usage() {
    std::fputs(
        "usage: quelby_case_runner [--program PATH] [--time-slack MS] [--filter TEXT] FILE...\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quelby::cases;
    ProgramOptions options;
    Tally tally;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "--program" && has_value) {
            options.program = argv[++i];
        } else if (argument == "--time-slack" && has_value) {
            const std::string value = argv[++i];
            long slack = 0;
            const auto [end, fault] =
                std::from_chars(value.data(), value.data() + value.size(), slack);
            if (fault != std::errc{} || end != value.data() + value.size()) {
                return usage();
            }
            options.time_slack = std::chrono::milliseconds(slack);
        } else if (argument == "--filter" && has_value) {
            tally.filter = argv[++i];
        } else if (argument.starts_with("--")) {
            return usage();
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty()) {
        return usage();
    }
    bool broken = false;
    for (const std::string& path : files) {
        try {
            const CaseFile file = read_case_file(path);
            const int run = run_table_cases(file, tally) + run_program_cases(file, options, tally);
            // A file whose cases all went unseen (a mistyped table, say) must not pass quietly.
            if (run == 0 && tally.filter.empty()) {
                throw CaseFileError(path + ": no cases found");
            }
        } catch (const CaseFileError& fault) {
            std::fprintf(stdout, "ERROR %s\n", fault.what());
            broken = true;
        } catch (const std::exception& fault) {
            std::fprintf(stdout, "ERROR %s: %s\n", path.c_str(), fault.what());
            broken = true;
        }
    }
    std::fprintf(stdout, "%d passed, %d failed\n", tally.passed, tally.failed);
    return tally.failed == 0 && !broken ? 0 : 1;
}
