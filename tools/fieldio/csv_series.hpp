// A series from CSV text. Kept apart from the files and NetCDF so that it can
// be fuzzed on bytes in memory.
#pragma once

#include <string>

#include "series_source.hpp"

// Reads `text` (the whole file `file`) as a CSV series, `column` the part of
// the argument after FILE: (empty: the only column of values).
// - The first line is a header when one of its cells is neither a number nor
//   an ISO date.
// - A table whose rows are a four-digit year and 12 more cells is a monthly
//   series, month by month (a column is then refused).
// - Otherwise the first column whose cell in the first row of values is an
//   ISO date is the date column (every row must then have a date there); a
//   column is chosen by its 1-based number or by its header, and a header
//   that two columns share is refused by name.
// - Blank and non-numeric cells, NaN and the missing-value marker are missing;
//   an infinite or out-of-range number is refused. In a file of one column a
//   blank line is a missing row.
// - A NUL byte is refused, naming its line: it is not text.
// Messages quote at most 80 characters of a cell.
void read_csv_series(const std::string& text, const std::string& file, const std::string& column,
                     const SeriesReadOptions& options, SeriesSource& out);

// A cell as messages show it: in quotes, cut to 80 characters with "…", control
// characters as '?'.
std::string quoted_cell(const std::string& cell);
