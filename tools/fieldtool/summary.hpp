// fieldtool info and dump: what a record file holds, as text.
#pragma once

#include <cstdio>
#include <string>

// Record pairs, first and last header, whether W4 varies, value count, minimum,
// median and maximum of the values that are numbers (not MISSING_VALUE, NaN or
// infinite), and how many are MISSING_VALUE, NaN, +inf and -inf.
void print_info(const std::string& path, FILE* out);

// Every pair: its header words, then its values in the shortest form that reads
// back to the same float. As CSV, one row per pair: W1,W2,W3,W4,values….
void print_dump(const std::string& path, bool csv, FILE* out);

// The shortest text that reads back to v (std::to_chars); returns its length.
int shortest_text(float v, char* buf, int size);
