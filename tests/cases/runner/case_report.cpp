#include "case_report.h"

#include <cstdio>

namespace quelby::cases {

void Tally::report(std::string_view name, const std::vector<std::string>& faults) {
    if (faults.empty()) {
        ++passed;
    } else {
        ++failed;
    }
    std::string text = std::string(faults.empty() ? "PASS " : "FAIL ") + std::string(name) + "\n";
    for (const std::string& fault : faults) {
        std::size_t start = 0;
        while (start < fault.size()) {
            std::size_t end = fault.find('\n', start);
            if (end == std::string::npos) {
                end = fault.size();
            }
            text += "    " + fault.substr(start, end - start) + "\n";
            start = end + 1;
        }
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace quelby::cases
