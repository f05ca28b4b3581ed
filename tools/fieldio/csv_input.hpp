// Reading one column of a CSV file as a single series.
#pragma once

#include <cstdint>
#include <string>

#include "series_file.hpp"

// Splits one CSV line into cells: commas separate, double quotes may enclose a
// cell (a doubled quote inside stands for one), blanks around a cell are dropped.
// The first CSV_MAX_CELLS cells are kept; false when a quote is left open.
inline constexpr int CSV_MAX_CELLS = 1024;
struct CsvLine {
    int count = 0; // cells kept
    int total = 0; // cells on the line
    std::string cells[CSV_MAX_CELLS];
};
bool split_csv_line(const std::string& line, CsvLine& out);

// Whether the whole cell is written as a number (in any range), NaN or infinity
// included, or is empty. A first line is a header only when some cell is not.
bool looks_numeric(const std::string& cell);

// A cell as a value: empty and any NaN ("NaN", "-nan", ...) are MISSING_VALUE;
// otherwise the whole cell must be a number within single-precision range.
// False if it is not.
bool parse_csv_value(const std::string& cell, float& value);

// The column as chosen by --column: a whole number is a 1-based index, anything
// else a header name. An empty choice means "the only column".
struct CsvColumn {
    int32_t rows = 0;
    int32_t missing = 0;            // rows that are MISSING_VALUE
    long first_missing_line = 0;    // line of the first of them
    int32_t first_missing_row = 0;  // and its row number, from 1
    float values[MAX_STEPS];
};
// Reads the file to its end; every problem is fatal with the file and line named.
// In a file of one column a blank line is a missing row, so later rows keep
// their places; blank lines after the last row are ignored. In a file of more
// columns a blank line holds no row.
// A file of several columns and no choice is fatal with `how_to_choose` as hint.
void read_csv_column(const char* path, const std::string& choice, CsvColumn& col,
                     const char* how_to_choose = "--column NAME or --column INDEX");

// fieldtool from-csv: one record pair per row, W1 = row number, W2 = W3 = W4 = 1.
// A missing row is fatal, naming it, unless allow_missing: the chain would take
// the marker for a number at every step but the second.
void convert_csv(const char* csv_path, const char* out_path, const std::string& choice, bool allow_missing);
