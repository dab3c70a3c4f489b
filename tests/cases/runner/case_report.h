// What the runner prints: "PASS name" or "FAIL name" per case, the faults under a failed one, and
// the totals (scripts/test_windows.sh counts the PASS and FAIL lines).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quelby::cases {

struct Tally {
    int passed = 0;
    int failed = 0;
    std::string filter;  // only the cases whose name contains it are run

    [[nodiscard]] bool selected(std::string_view name) const {
        return name.find(filter) != std::string_view::npos;
    }
    // Counts the case and prints its line, then each fault (a fault may span lines).
    void report(std::string_view name, const std::vector<std::string>& faults);
};

}  // namespace quelby::cases
