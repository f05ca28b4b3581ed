// The two range grammars of the tools' command lines, parsed in one place so
// that every option spelled LO:HI or A:B reads and fails the same way.
#pragma once

#include <cstdint>
#include <string>

// LO:HI, two finite numbers with LO below HI (a colour range).
struct ValueRange {
    double lo = 0;
    double hi = 0;
};

// A:B, 1-based and inclusive; an empty A is 1, an empty B (last = 0) runs to the
// end.
struct StepRange {
    int64_t first = 1;
    int64_t last = 0;
};

// Both throw RunError naming the option, with the text given.
ValueRange parse_value_range(const std::string& option, const std::string& text);
StepRange parse_step_range(const std::string& option, const std::string& text);
