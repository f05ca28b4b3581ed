#include "csv_input.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "record_access.hpp"
#include "run_frame.hpp"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trimmed(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && is_blank(s[a])) ++a;
    while (b > a && is_blank(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool equals_nocase(const std::string& s, const char* word)
{
    if (s.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != word[i]) return false;
    return true;
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
    const std::string cause = "line " + std::to_string(line) + ": " + what;
    fatal(path, cause.c_str());
}

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

bool parse_csv_value(const std::string& cell, float& value)
{
    if (cell.empty() || equals_nocase(cell, "nan")) {
        value = MISSING_VALUE;
        return true;
    }
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(cell.c_str(), &end);
    if (end == cell.c_str() || *end != '\0') return false;
    // Overflow, not underflow: a value too small for single precision is still data.
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

void read_csv_column(const char* path, const std::string& choice, CsvColumn& col, const char* how_to_choose)
{
    FILE* in = std::fopen(path, "r");
    if (!in) fatal_errno(path, errno);

    static CsvLine cells;
    static CsvLine header;
    bool have_header = false;
    int index = -1; // 0-based column, fixed by the first line that is not blank
    long line_no = 0;
    col.rows = 0;
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
        if (std::ferror(in)) fatal_errno(path, errno);
        if (!got) break;
        ++line_no;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line_no == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3); // byte-order mark
        if (trimmed(line).empty()) continue;
        if (!split_csv_line(line, cells)) line_error(path, line_no, "a quoted cell is not closed");

        if (index < 0) {
            // The first line is a header when any cell of it is not a value.
            for (int i = 0; i < cells.count && !have_header; ++i) {
                float v;
                have_header = !parse_csv_value(cells.cells[i], v);
            }
            if (have_header) header = cells;
            if (choice.empty()) {
                if (cells.total > 1) {
                    const std::string why = std::to_string(cells.total) + " columns (" +
                                            (have_header ? column_list(header) : std::string("no header")) +
                                            "): choose one with " + how_to_choose;
                    fatal(path, why.c_str());
                }
                index = 0;
            } else if (is_whole_number(choice)) {
                index = choice.size() > 6 ? -1 : std::atoi(choice.c_str()) - 1;
                if (index < 0 || index >= cells.total) {
                    const std::string why = "there is no column " + choice + " (line " + std::to_string(line_no) +
                                            " has " + std::to_string(cells.total) + ")";
                    fatal(path, why.c_str());
                }
                if (index >= CSV_MAX_CELLS) fatal(path, "only the first 1024 columns can be chosen");
            } else {
                if (!have_header) {
                    const std::string why = "no header line, so no column is named \"" + choice +
                                            "\": give its number instead";
                    fatal(path, why.c_str());
                }
                for (int i = 0; i < header.count && index < 0; ++i)
                    if (header.cells[i] == choice) index = i;
                if (index < 0) {
                    const std::string why = "no column named \"" + choice + "\" (columns: " + column_list(header) + ")";
                    fatal(path, why.c_str());
                }
            }
            if (have_header) continue;
        }

        // A row that stops before the column (spreadsheets drop empty trailing
        // cells) has that cell empty.
        const std::string cell = index < cells.count ? cells.cells[index] : std::string();
        float v;
        if (!parse_csv_value(cell, v)) line_error(path, line_no, "\"" + cell + "\" is not a number");
        if (col.rows == MAX_STEPS)
            line_error(path, line_no,
                       "more than 2000 rows: the programs take at most 2000 time steps, so cut the file to a "
                       "shorter period first");
        col.values[col.rows++] = v;
    }
    std::fclose(in);
    if (col.rows == 0) fatal(path, "no rows of values");
}

void convert_csv(const char* csv_path, const char* out_path, const std::string& choice)
{
    static CsvColumn col;
    read_csv_column(csv_path, choice, col);
    static RecordOutput out;
    open_record_output(out, out_path);
    for (int32_t t = 0; t < col.rows; ++t) write_pair(out, RecordHeader{t + 1, 1, 1, 1}, &col.values[t]);
    close_record_output(out);
}
