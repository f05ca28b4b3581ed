// Opening record files the way an ordinary command-line tool does, outside the
// three programs' run frame: inputs read only, pair by pair with the capacities
// checked; outputs gathered in memory and written through output_file when
// closed, so that a failed run leaves an older file of that name as it was.
#pragma once

#include <climits>
#include <cstdint>

#include "series_file.hpp"

// Each of these owns a SeriesFile with its own buffer; errors take seriesio's
// fatal path, naming the file.
struct RecordInput {
    SeriesFile f;
    int32_t pairs_read = 0;
};
struct RecordOutput {
    SeriesFile f; // writes into an anonymous file in memory
    char path[PATH_MAX] = {};
};

void open_record_input(RecordInput& in, const char* path);
void open_record_output(RecordOutput& out, const char* path);

// Reads the next pair into h and values (capacity MAX_POINTS). Returns false at
// the end of the file. A W4 outside 0 … MAX_POINTS is fatal.
bool read_pair(RecordInput& in, RecordHeader& h, float* values);

// Reads pair number k (1-based), fatal if the file has fewer pairs.
void read_pair_number(RecordInput& in, int32_t k, RecordHeader& h, float* values);

void write_pair(RecordOutput& out, const RecordHeader& h, const float* values);

// Writes everything to the output's path through output_file and closes it; a
// failure is fatal, naming the whole path and the system's cause.
void close_record_output(RecordOutput& out);
