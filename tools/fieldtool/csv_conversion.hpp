// fieldtool from-csv: a series in CSV text (a column, a column beside dates, or
// a table of one row per year and twelve months) as a record file of one
// point per pair, for lagscan.
#pragma once

#include <string>

#include "series_source.hpp"
#include "value_ranges.hpp"

struct CsvConversion {
    std::string column;        // --column; empty: the part of the argument after FILE:, if any
    bool allow_missing = false; // write missing steps as MISSING_VALUE
    bool select = false;        // --steps given
    StepRange steps;
    SeriesReadOptions read;     // --missing-value
};

// One pair per step, W1 = step (from 1 within the selection), W2 = W3 = W4 = 1.
// A missing step is refused, naming it, unless allow_missing: the chain would
// take the marker for a number at every step but the second. More than
// MAX_STEPS selected steps are refused: lagscan reads no more.
void convert_csv(const std::string& argument, const std::string& out_path, const CsvConversion& c);
