#include "value_ranges.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "run_error.hpp"

namespace {

// The whole of s as a number; false for anything else, an empty s included.
bool whole_number(const std::string& s, double& v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return *end == '\0';
}

bool whole_step(const std::string& s, int64_t& v)
{
    if (s.empty() || s[0] < '0' || s[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || n < 1) return false;
    v = n;
    return true;
}

} // namespace

ValueRange parse_value_range(const std::string& option, const std::string& text)
{
    const size_t colon = text.find(':');
    ValueRange r;
    const bool ok = colon != std::string::npos && whole_number(text.substr(0, colon), r.lo) &&
                    whole_number(text.substr(colon + 1), r.hi) && std::isfinite(r.lo) && std::isfinite(r.hi) &&
                    r.lo < r.hi;
    if (!ok) fail(option, "needs LO:HI, two numbers with LO below HI, not \"" + text + "\"");
    return r;
}

StepRange parse_step_range(const std::string& option, const std::string& text)
{
    const size_t colon = text.find(':');
    StepRange r;
    const std::string a = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string b = colon == std::string::npos ? "" : text.substr(colon + 1);
    const bool ok = colon != std::string::npos && (a.empty() || whole_step(a, r.first)) &&
                    (b.empty() || whole_step(b, r.last));
    if (!ok) fail(option, "takes A:B, 1-based steps, not \"" + text + "\"");
    if (r.last != 0 && r.last < r.first) fail(option, text + " ends before it starts");
    return r;
}
