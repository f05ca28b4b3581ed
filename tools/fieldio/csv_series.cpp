#include "csv_series.hpp"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "iso_date.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

struct Line {
    long number = 0; // 1-based
    size_t begin = 0, end = 0;
    bool blank = false;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trimmed(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && is_blank(s[a])) ++a;
    while (b > a && is_blank(s[b - 1])) --b;
    return s.substr(a, b - a);
}

[[noreturn]] void line_fail(const std::string& file, long line, const std::string& what)
{
    fail(file, "line " + std::to_string(line) + ": " + what);
}

// Lines end at '\n'; a file with none but with '\r' ends them there instead.
std::vector<Line> split_lines(const std::string& text)
{
    const char end_char = text.find('\n') == std::string::npos && text.find('\r') != std::string::npos ? '\r' : '\n';
    std::vector<Line> lines;
    size_t start = 0;
    long number = 0;
    while (start < text.size()) {
        size_t stop = text.find(end_char, start);
        if (stop == std::string::npos) stop = text.size();
        Line l;
        l.number = ++number;
        l.begin = start;
        l.end = stop;
        if (number == 1 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) l.begin = 3; // byte-order mark
        l.blank = true;
        for (size_t i = l.begin; i < l.end && l.blank; ++i) l.blank = is_blank(text[i]);
        lines.push_back(l);
        start = stop + 1;
    }
    return lines;
}

// Commas separate cells; double quotes may enclose one (a doubled quote inside
// stands for one); blanks around a cell are dropped. False when a quote is
// left open.
bool split_cells(const std::string& text, const Line& l, std::vector<std::string>& cells)
{
    cells.clear();
    size_t i = l.begin;
    for (;;) {
        std::string cell;
        while (i < l.end && is_blank(text[i])) ++i;
        if (i < l.end && text[i] == '"') {
            ++i;
            for (;;) {
                if (i >= l.end) return false;
                if (text[i] == '"') {
                    if (i + 1 < l.end && text[i + 1] == '"') {
                        cell.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                cell.push_back(text[i++]);
            }
            while (i < l.end && text[i] != ',') ++i;
        } else {
            const size_t start = i;
            while (i < l.end && text[i] != ',') ++i;
            cell = trimmed(text.substr(start, i - start));
        }
        cells.push_back(std::move(cell));
        if (i >= l.end) return true;
        ++i;
    }
}

// Written as a number (any range, NaN and infinity included) or empty.
bool numeric_cell(const std::string& cell)
{
    if (cell.empty()) return true;
    char* end = nullptr;
    std::strtod(cell.c_str(), &end);
    return end != cell.c_str() && *end == '\0';
}

bool date_cell(const std::string& cell)
{
    IsoDate d;
    return parse_iso_date(cell, d);
}

bool four_digit_year(const std::string& cell)
{
    if (cell.size() != 4) return false;
    for (char c : cell)
        if (c < '0' || c > '9') return false;
    return true;
}

// The number of cells up to the last one that is not empty.
size_t width(const std::vector<std::string>& cells)
{
    size_t w = cells.size();
    while (w > 0 && cells[w - 1].empty()) --w;
    return w;
}

// A cell as a value: blank, not a number, NaN or the marker are missing.
float cell_value(const std::string& cell, const SeriesReadOptions& o, const std::string& file, long line)
{
    if (cell.empty()) return MISSING_VALUE;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(cell.c_str(), &end);
    if (end == cell.c_str() || *end != '\0' || std::isnan(v)) return MISSING_VALUE;
    if (o.has_missing_value && v == o.missing_value) return MISSING_VALUE;
    if (std::isinf(v) && errno != ERANGE) line_fail(file, line, quoted_cell(cell) + " is not a finite value");
    if (std::fabs(v) > double(FLT_MAX))
        line_fail(file, line, quoted_cell(cell) + " is outside the range of single precision");
    return float(v);
}

std::string column_list(const std::vector<std::string>& header, size_t columns)
{
    std::string s;
    for (size_t i = 0; i < columns && i < 20; ++i) {
        if (i) s += ", ";
        s += std::to_string(i + 1);
        if (i < header.size()) {
            s += ' ';
            s += quoted_cell(header[i]);
        }
    }
    if (columns > 20) s += ", …";
    return s;
}

std::string column_text(size_t index, const std::vector<std::string>& header)
{
    std::string s = "column " + std::to_string(index + 1);
    if (index < header.size() && !header[index].empty()) s += " (" + quoted_cell(header[index]) + ")";
    return s;
}

void read_year_table(const std::string& text, const std::string& file, const std::vector<Line>& lines, size_t first,
                     const SeriesReadOptions& o, SeriesSource& out)
{
    out.format = SeriesFormat::year_table;
    out.axis.has_dates = true;
    out.axis.calendar = Calendar::standard;
    std::vector<std::string> cells;
    long previous_year = 0;
    long first_year = 0;
    for (size_t k = first; k < lines.size(); ++k) {
        const Line& l = lines[k];
        if (l.blank) continue;
        if (!split_cells(text, l, cells)) line_fail(file, l.number, "a quoted cell is not closed");
        if (!four_digit_year(cells[0]) || width(cells) > 13)
            line_fail(file, l.number, "is not a year and 12 monthly values like the rows before it (" +
                                          quoted_cell(cells[0]) + ", " + std::to_string(cells.size()) + " cells)");
        const long year = std::atol(cells[0].c_str());
        if (first_year && year <= previous_year)
            line_fail(file, l.number, "the year " + cells[0] + " does not come after " + std::to_string(previous_year));
        if (!first_year) first_year = year;
        previous_year = year;
        for (int m = 1; m <= 12; ++m) {
            const std::string cell = size_t(m) < cells.size() ? cells[size_t(m)] : std::string();
            out.values.push_back(cell_value(cell, o, file, l.number));
            StepDate d;
            make_step_date(Calendar::standard, CivilDate{year, m, 1}, 0, d);
            out.axis.dates.push_back(d);
        }
    }
    out.axis.origin = "the years of the table's first column";
    out.description = "a table of one row per year and 12 monthly columns (" + std::to_string(first_year) + " … " +
                      std::to_string(previous_year) + ")";
}

} // namespace

std::string quoted_cell(const std::string& cell)
{
    constexpr size_t MAX = 80;
    std::string s = cell;
    if (s.size() > MAX) {
        size_t cut = MAX - 3;
        // Not inside a UTF-8 sequence: continuation bytes are 10xxxxxx.
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        s = s.substr(0, cut) + "…";
    }
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + s + "\"";
}

void read_csv_series(const std::string& text, const std::string& file, const std::string& column,
                     const SeriesReadOptions& o, SeriesSource& out)
{
    out = SeriesSource{};
    out.file = file;
    out.format = SeriesFormat::csv;
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        long line = 1;
        for (size_t i = 0; i < nul; ++i) line += text[i] == '\n';
        fail(file, "line " + std::to_string(line) + " holds a NUL byte: this is not CSV text");
    }
    const std::vector<Line> lines = split_lines(text);
    size_t k = 0;
    while (k < lines.size() && lines[k].blank) ++k;
    if (k == lines.size()) fail(file, "holds no rows of values");

    std::vector<std::string> header, cells;
    if (!split_cells(text, lines[k], cells)) line_fail(file, lines[k].number, "a quoted cell is not closed");
    bool has_header = false;
    for (const std::string& c : cells) has_header = has_header || !(numeric_cell(c) || date_cell(c));
    if (has_header) {
        header = cells;
        ++k;
        while (k < lines.size() && lines[k].blank) ++k;
        if (k == lines.size()) fail(file, "holds a header line and no rows of values");
        if (!split_cells(text, lines[k], cells)) line_fail(file, lines[k].number, "a quoted cell is not closed");
    }
    const size_t first_row = k;

    bool table = four_digit_year(cells[0]) && width(cells) == 13;
    for (size_t c = 1; c < cells.size() && table; ++c) table = !date_cell(cells[c]);
    if (table) {
        if (!column.empty())
            fail(file, "is a table of one row per year and 12 monthly columns, read as one monthly series: give "
                       "it without \":" + column.substr(0, 80) + "\"");
        read_year_table(text, file, lines, first_row, o, out);
        return;
    }

    const size_t columns = std::max(header.size(), cells.size());
    size_t date_column = columns;
    for (size_t c = 0; c < cells.size() && date_column == columns; ++c)
        if (date_cell(cells[c])) date_column = c;
    const bool dated = date_column < columns;

    size_t chosen = columns;
    bool by_number = !column.empty() && column.size() <= 9;
    for (char ch : column) by_number = by_number && ch >= '0' && ch <= '9';
    if (columns == 1 && dated) fail(file, "holds only dates, no column of values");
    if (column.empty()) {
        if (columns - dated != 1)
            fail(file, std::to_string(columns) + " columns (" +
                           (has_header ? column_list(header, columns) : std::string("no header")) +
                           (dated ? "; column " + std::to_string(date_column + 1) + " holds the dates" : "") +
                           "): choose one as FILE:NAME or FILE:NUMBER");
        chosen = dated && date_column == 0 ? 1 : 0;
    } else if (by_number) {
        const long n = std::atol(column.c_str());
        if (n < 1 || size_t(n) > columns)
            fail(file, "there is no column " + column + " (the file has " + std::to_string(columns) + ")");
        chosen = size_t(n) - 1;
    } else {
        if (!has_header)
            fail(file, "no header line, so no column is named " + quoted_cell(column) + ": give its number instead");
        std::vector<size_t> found;
        for (size_t c = 0; c < header.size(); ++c)
            if (header[c] == column) found.push_back(c);
        if (found.empty())
            fail(file, "no column named " + quoted_cell(column) + " (columns: " + column_list(header, columns) + ")");
        if (found.size() > 1)
            fail(file, "the name " + quoted_cell(column) + " heads columns " + std::to_string(found[0] + 1) + " and " +
                           std::to_string(found[1] + 1) + ": choose one by its number");
        chosen = found[0];
    }
    if (dated && chosen == date_column)
        fail(file, column_text(chosen, header) + " holds the dates: choose a column of values");

    // Blank lines are missing rows in a file of one column (later rows keep
    // their steps) once a row follows them.
    const bool one_column = columns == 1;
    long blanks = 0;
    for (k = first_row; k < lines.size(); ++k) {
        const Line& l = lines[k];
        if (l.blank) {
            blanks += one_column;
            continue;
        }
        for (; blanks > 0; --blanks) out.values.push_back(MISSING_VALUE);
        if (!split_cells(text, l, cells)) line_fail(file, l.number, "a quoted cell is not closed");
        if (dated) {
            IsoDate iso;
            const std::string cell = date_column < cells.size() ? cells[date_column] : std::string();
            if (!parse_iso_date(cell, iso))
                line_fail(file, l.number, quoted_cell(cell) + " in the date column " + std::to_string(date_column + 1) +
                                              " is not a date as YYYY-MM, YYYY-MM-DD or YYYY-MM-DD hh:mm[:ss]");
            StepDate d;
            if (!make_step_date(Calendar::standard, iso.date, iso.second, d))
                line_fail(file, l.number, quoted_cell(cell) + " is not a date of the standard calendar");
            out.axis.dates.push_back(d);
        }
        out.values.push_back(cell_value(chosen < cells.size() ? cells[chosen] : std::string(), o, file, l.number));
    }
    out.name = chosen < header.size() ? header[chosen] : "";
    out.long_name = out.name;
    out.description = column_text(chosen, header) + " of a CSV file";
    if (dated) {
        out.axis.has_dates = true;
        out.axis.calendar = Calendar::standard;
        out.axis.origin = "the date " + column_text(date_column, header);
    }
}
