#include "csv_input.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <memory>

#include "output_file.hpp"
#include "record_access.hpp"
#include "run_error.hpp"
#include "series_file.hpp"
#include "system_error.hpp"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trimmed(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && is_blank(s[a])) ++a;
    while (b > a && is_blank(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool is_whole_number(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

[[noreturn]] void line_error(const char* path, long line, const std::string& what)
{
    fail(path, "line " + std::to_string(line) + ": " + what);
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

std::string column_list(const CsvLine& header)
{
    std::string s;
    for (int i = 0; i < header.count && i < 20; ++i) {
        if (i) s += ", ";
        s += std::to_string(i + 1) + " \"" + header.cells[i] + "\"";
    }
    if (header.total > 20) s += ", …";
    return s;
}

} // namespace

bool split_csv_line(const std::string& line, CsvLine& out)
{
    out.count = out.total = 0;
    size_t i = 0;
    const size_t n = line.size();
    for (;;) {
        std::string cell;
        while (i < n && is_blank(line[i])) ++i;
        if (i < n && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= n) return false;
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        cell.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                cell.push_back(line[i++]);
            }
            while (i < n && line[i] != ',') ++i; // text after the closing quote is dropped
        } else {
            while (i < n && line[i] != ',') cell.push_back(line[i++]);
            cell = trimmed(cell);
        }
        if (out.count < CSV_MAX_CELLS) out.cells[out.count++] = cell;
        ++out.total;
        if (i >= n) return true;
        ++i; // the comma
    }
}

bool looks_numeric(const std::string& cell)
{
    if (cell.empty()) return true;
    char* end = nullptr;
    std::strtod(cell.c_str(), &end);
    return end != cell.c_str() && *end == '\0';
}

bool parse_csv_value(const std::string& cell, float& value)
{
    if (cell.empty()) {
        value = MISSING_VALUE;
        return true;
    }
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(cell.c_str(), &end);
    if (end == cell.c_str() || *end != '\0') return false;
    // Every spelling of NaN ("-nan", "nan(1)") is a gap, never a value.
    if (std::isnan(v)) {
        value = MISSING_VALUE;
        return true;
    }
    // Overflow, not underflow: a value too small for single precision is still data.
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

namespace {

void add_row(const char* path, long line_no, float v, CsvColumn& col)
{
    if (col.rows == MAX_STEPS)
        line_error(path, line_no,
                   "more than 2000 rows: the programs take at most 2000 time steps, so cut the file to a "
                   "shorter period first");
    if (v == MISSING_VALUE && col.missing++ == 0) {
        col.first_missing_line = line_no;
        col.first_missing_row = col.rows + 1;
    }
    col.values[col.rows++] = v;
}

} // namespace

void read_csv_column(const char* path, const std::string& choice, CsvColumn& col, const char* how_to_choose)
{
    const std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "r"));
    if (!file) fail_errno(path, errno);
    FILE* in = file.get();

    // Two lines of 1024 cells each: kept off the stack.
    const auto lines = std::make_unique<CsvLine[]>(2);
    CsvLine& cells = lines[0];
    CsvLine& header = lines[1];
    bool have_header = false;
    bool one_column = false;
    int index = -1; // 0-based column, fixed by the first line that is not blank
    long line_no = 0;
    // Blank lines not yet placed: missing rows in a one-column file once a row
    // follows them, nothing when the file ends or a header follows.
    long blanks = 0, first_blank_line = 0;
    col.rows = col.missing = 0;
    std::string line;
    char chunk[4096];
    for (;;) {
        line.clear();
        bool got = false;
        while (std::fgets(chunk, sizeof chunk, in)) {
            got = true;
            line += chunk;
            if (!line.empty() && line.back() == '\n') break;
        }
        if (std::ferror(in)) fail_errno(path, errno);
        if (!got) break;
        ++line_no;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line_no == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3); // byte-order mark
        if (trimmed(line).empty()) {
            if (blanks++ == 0) first_blank_line = line_no;
            continue;
        }
        if (!split_csv_line(line, cells)) line_error(path, line_no, "a quoted cell is not closed");

        if (index < 0) {
            // The first line is a header when any cell of it is not written as a number.
            for (int i = 0; i < cells.count && !have_header; ++i) have_header = !looks_numeric(cells.cells[i]);
            if (have_header) header = cells;
            one_column = cells.total == 1;
            if (choice.empty()) {
                if (cells.total > 1) {
                    const std::string why = std::to_string(cells.total) + " columns (" +
                                            (have_header ? column_list(header) : std::string("no header")) +
                                            "): choose one with " + how_to_choose;
                    fail(path, why);
                }
                index = 0;
            } else if (is_whole_number(choice)) {
                index = choice.size() > 6 ? -1 : std::atoi(choice.c_str()) - 1;
                if (index < 0 || index >= cells.total) {
                    const std::string why = "there is no column " + choice + " (line " + std::to_string(line_no) +
                                            " has " + std::to_string(cells.total) + ")";
                    fail(path, why);
                }
                if (index >= CSV_MAX_CELLS) fail(path, "only the first 1024 columns can be chosen");
            } else {
                if (!have_header) {
                    const std::string why = "no header line, so no column is named \"" + choice +
                                            "\": give its number instead";
                    fail(path, why);
                }
                for (int i = 0; i < header.count && index < 0; ++i)
                    if (header.cells[i] == choice) index = i;
                if (index < 0) {
                    const std::string why = "no column named \"" + choice + "\" (columns: " + column_list(header) + ")";
                    fail(path, why);
                }
            }
            if (have_header) {
                blanks = 0;
                continue;
            }
        }

        if (one_column)
            for (long b = 0; b < blanks; ++b) add_row(path, first_blank_line + b, MISSING_VALUE, col);
        blanks = 0;
        // A row that stops before the column (spreadsheets drop empty trailing
        // cells) has that cell empty.
        const std::string cell = index < cells.count ? cells.cells[index] : std::string();
        float v;
        if (!parse_csv_value(cell, v))
            line_error(path, line_no,
                       "\"" + cell + "\" " +
                           (looks_numeric(cell) ? "is outside the range of single precision" : "is not a number"));
        add_row(path, line_no, v, col);
    }
    if (col.rows == 0) fail(path, "no rows of values");
}

void convert_csv(const char* csv_path, const char* out_path, const std::string& choice, bool allow_missing)
{
    const std::string inputs[] = {csv_path};
    refuse_output_over_inputs(out_path, inputs, 1);
    const auto column = std::make_unique<CsvColumn>();
    CsvColumn& col = *column;
    read_csv_column(csv_path, choice, col);
    if (col.missing > 0 && !allow_missing) {
        const std::string why =
            "line " + std::to_string(col.first_missing_line) + ": row " + std::to_string(col.first_missing_row) +
            " has no value (" + std::to_string(col.missing) + " of " + std::to_string(col.rows) +
            " rows are missing); lagscan would take the missing-value marker for a number there, so fill the "
            "gaps, or give --allow-missing to write them as MISSING_VALUE all the same";
        fail(csv_path, why);
    }
    if (col.missing > 0)
        std::fprintf(stderr, "fieldtool: %s: note: %d of %d rows are missing and written as MISSING_VALUE\n",
                     csv_path, col.missing, col.rows);
    RecordOutput out;
    open_record_output(out, out_path);
    for (int32_t t = 0; t < col.rows; ++t) write_pair(out, RecordHeader{t + 1, 1, 1, 1}, &col.values[t]);
    close_record_output(out);
}
