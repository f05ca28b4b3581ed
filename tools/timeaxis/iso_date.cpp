#include "iso_date.hpp"

#include "run_error.hpp"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Reads min_digits ... max_digits digits at s[i].
bool take_number(const std::string& s, size_t& i, int min_digits, int max_digits, int& value)
{
    int n = 0;
    value = 0;
    while (i < s.size() && digit(s[i]) && n < max_digits) {
        value = value * 10 + (s[i++] - '0');
        ++n;
    }
    return n >= min_digits && !(i < s.size() && digit(s[i]));
}

} // namespace

bool parse_iso_date(const std::string& cell, IsoDate& out)
{
    IsoDate d;
    size_t i = 0;
    int year, month, day = 1;
    if (!take_number(cell, i, 4, 4, year) || i >= cell.size() || cell[i] != '-') return false;
    ++i;
    if (!take_number(cell, i, 1, 2, month) || month < 1 || month > 12) return false;
    d.fields = 2;
    if (i < cell.size() && cell[i] == '-') {
        ++i;
        if (!take_number(cell, i, 1, 2, day) || day < 1 || day > 31) return false;
        d.fields = 3;
        if (i < cell.size() && (cell[i] == ' ' || cell[i] == 'T')) {
            ++i;
            int hour, minute, second = 0;
            if (!take_number(cell, i, 1, 2, hour) || hour > 23 || i >= cell.size() || cell[i] != ':') return false;
            ++i;
            if (!take_number(cell, i, 1, 2, minute) || minute > 59) return false;
            double fraction = 0;
            if (i < cell.size() && cell[i] == ':') {
                ++i;
                if (!take_number(cell, i, 1, 2, second) || second > 59) return false;
                if (i < cell.size() && cell[i] == '.') {
                    ++i;
                    double scale = 0.1;
                    const size_t start = i;
                    while (i < cell.size() && digit(cell[i])) {
                        fraction += (cell[i++] - '0') * scale;
                        scale /= 10;
                    }
                    if (i == start) return false;
                }
            }
            d.fields = 4;
            d.second = hour * 3600.0 + minute * 60.0 + second + fraction;
            if (i < cell.size() && cell[i] == 'Z') ++i;
        }
    }
    if (i != cell.size()) return false;
    d.date = CivilDate{year, month, day};
    out = d;
    return true;
}

namespace {

bool read_bound(const std::string& side, IsoDate& dest)
{
    if (side.empty()) return false;
    if (!parse_iso_date(side, dest)) {
        std::string cause = "\"";
        cause += side.substr(0, 80);
        cause += "\" is not a date as YYYY-MM, YYYY-MM-DD or YYYY-MM-DD hh:mm";
        fail("--period", cause);
    }
    return true;
}

} // namespace

Period parse_period(const std::string& text)
{
    Period p;
    p.text = text;
    const size_t slash = text.find('/');
    if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos) {
        std::string cause = "\"";
        cause += text.substr(0, 80);
        cause += "\" is not START/END (for example 1982-01/1992-12, 1982-01-01/1992-12-31, 1982-01/ or /1992-12)";
        fail("--period", cause);
    }
    const std::string start = text.substr(0, slash), end = text.substr(slash + 1);
    p.has_start = read_bound(start, p.start);
    p.has_end = read_bound(end, p.end);
    if (!p.has_start && !p.has_end) fail("--period", "give a start, an end or both (START/END, START/ or /END)");
    if (p.has_start && p.has_end) {
        const IsoDate& a = p.start;
        const IsoDate& b = p.end;
        // Compared on the fields both give: 1990-05/1990-05-10 is a fine period.
        const int fields = a.fields < b.fields ? a.fields : b.fields;
        const long long ka = a.date.year * 12LL + a.date.month, kb = b.date.year * 12LL + b.date.month;
        bool after = ka > kb;
        if (ka == kb && fields >= 3)
            after = a.date.day > b.date.day || (a.date.day == b.date.day && fields == 4 && a.second > b.second);
        if (after) fail("--period", "the start " + start + " comes after the end " + end);
    }
    return p;
}
