// Opening record files the way an ordinary command-line tool does, outside the
// three programs' run frame: inputs read only, pair by pair with the capacities
// checked; outputs gathered in memory and written through output_file when
// closed, so that a failed run leaves an older file of that name as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "series_file.hpp"

// Each owns a SeriesFile with its own buffer, and closes it when it goes; errors
// throw RunError naming the file.
struct RecordInput {
    SeriesFile f;
    std::unique_ptr<unsigned char[]> buffer;
    int32_t pairs_read = 0;

    RecordInput() = default;
    RecordInput(const RecordInput&) = delete;
    RecordInput& operator=(const RecordInput&) = delete;
    ~RecordInput();
};
struct RecordOutput {
    SeriesFile f; // writes into an anonymous file in memory, or straight to a work file
    std::unique_ptr<unsigned char[]> buffer;
    std::string path;
    bool work_file = false;

    RecordOutput() = default;
    RecordOutput(const RecordOutput&) = delete;
    RecordOutput& operator=(const RecordOutput&) = delete;
    ~RecordOutput();
};

// With first_pairs_only, the file is read through the buffer rather than mapped
// whole, for a caller that wants a pair or two from the start of a large file.
void open_record_input(RecordInput& in, const std::string& path, bool first_pairs_only = false);
// Closes the input and hands its buffer or mapping back.
void close_record_input(RecordInput& in);

void open_record_output(RecordOutput& out, const std::string& path);
// A file that is itself temporary (a driver's work file, renamed or removed by
// the driver): written straight to its path, without a temporary name or a sync.
void open_work_record_output(RecordOutput& out, const std::string& path);

// Reads the next pair into h and values (capacity MAX_POINTS). Returns false at
// the end of the file. A W4 outside 0 … MAX_POINTS throws.
bool read_pair(RecordInput& in, RecordHeader& h, float* values);

// Reads pair number k (1-based); throws if the file has fewer pairs.
void read_pair_number(RecordInput& in, int32_t k, RecordHeader& h, float* values);

void write_pair(RecordOutput& out, const RecordHeader& h, const float* values);

// Writes everything to the output's path through output_file (a work file: what
// is still buffered) and closes it; a failure throws, naming the whole path and
// the system's cause.
void close_record_output(RecordOutput& out);
