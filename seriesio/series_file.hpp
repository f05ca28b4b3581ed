// The binary record format shared by every input and output of the suite.
//
// A file is a sequence of framed records: a 4-byte little-endian payload length,
// the payload, and the length again. Records come in pairs: a header of four
// 32-bit words (W1..W4) and a data record of W4 single-precision values.
//
// A fault (a malformed record, a refused read or write, storage that cannot be
// reserved) is thrown as RunError naming the file and the cause; nothing here
// prints or ends the process. Each SeriesFile belongs to one thread at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the record format is little-endian and is read by plain copies");

inline constexpr int32_t MAX_STEPS = 2000;   // record pairs per file
inline constexpr int32_t MAX_POINTS = 10000; // values per data record
inline constexpr int32_t NEFF_RECORD_TAG = 10000130;
inline constexpr float MISSING_VALUE = std::bit_cast<float>(0x50061C46u); // 8999999488

struct RecordHeader {
    int32_t w1 = 0;
    int32_t w2 = 0;
    int32_t w3 = 0;
    int32_t w4 = 0; // number of values in the data record that follows
};

// One open file of the run. Input and output both go through a block buffer;
// a file is only ever read or only ever written in one run.
#ifdef FIELDNEFF_FUZZ_BUFFER_BYTES
// The fuzz build shrinks the buffer so that inputs of a few hundred bytes cross
// its boundaries and take the paths that large files take.
inline constexpr size_t SERIES_BUFFER_BYTES = FIELDNEFF_FUZZ_BUFFER_BYTES;
#else
inline constexpr size_t SERIES_BUFFER_BYTES = size_t{1} << 20;
#endif

struct SeriesFile {
    int fd = -1;
    char name[4096] = {};      // as given, whole (PATH_MAX), for diagnostics
    int write_errno = 0;       // why the file could only be opened read-only, or 0
    bool output_started = false;
    bool writing = false;      // buffer holds pending output rather than read-ahead
    bool regular = false;      // a regular file: truncated on output, mapped on input
    bool mapped = false;       // buf is the whole input file mapped into memory
    bool map_tried = false;
    size_t released = 0;       // bytes at the start of a mapping already handed back
    size_t pos = 0;            // next byte of the buffer to read
    size_t len = 0;            // bytes in the buffer
    unsigned char* buf = nullptr; // SERIES_BUFFER_BYTES, reserved when opened
    // The reserved buffer while buf is the mapping: its owner may know it by no
    // other pointer, and it must stay reachable (and freeable) all the same.
    unsigned char* set_aside = nullptr;
};

// A whole series file in memory, in tiles of `lanes` points: tile b holds points
// b*lanes .. b*lanes+lanes-1 for `depth` steps, step after step, so one step of a
// tile is `lanes` adjacent values (one vector). With lanes = 1 this is point-major:
// each point's series is one contiguous column. lanes must divide MAX_POINTS and
// depth is at most MAX_STEPS, so the tiles fit MAX_STEPS x MAX_POINTS values.
// Cells no record fills stay 0.0.
struct FieldSeries {
    int32_t count = 0;   // record pairs read (L)
    RecordHeader last{}; // header of the last pair; meaningless when count == 0
    int32_t lanes = 1;   // points per tile
    // Steps per tile. Reading a mapped input sets it to one more than the pairs
    // the file holds, so a short series fills the front of the storage densely
    // and touches no more of it than it needs; otherwise MAX_STEPS.
    int32_t depth = MAX_STEPS;
    float* v = nullptr;
};

inline size_t cell(const FieldSeries& s, int32_t t, int32_t p)
{
    const size_t lanes = size_t(s.lanes);
    return size_t(p) / lanes * (size_t(s.depth) * lanes) + size_t(t) * lanes + size_t(p) % lanes;
}

// Copies step t of points 0..k-1 out of the tiles into row[0..k-1]: one record's
// values in point order, the way read_field_series found them.
void gather_step(const FieldSeries& s, int32_t t, int32_t k, float* row);

// The column of point p; only for the point-major layout (lanes = 1).
inline float* column(const FieldSeries& s, int32_t p) { return s.v + size_t(p) * size_t(s.depth); }

// Zero-filled storage for MAX_STEPS x MAX_POINTS values, reserved once per run;
// std::free gives it back.
float* reserve_matrix();

// The same for a FieldSeries in tiles, aligned to a huge page, so that a step of a
// 16-lane tile is one whole cache line and is filled without reading it first.
// The programs never give it back; release_tiles is for code that reserves many.
float* reserve_tiles();
void release_tiles(float* m);

// Returns false, consuming nothing, when the file ends where the next record would
// begin. Otherwise reads one record of at least 16 bytes; extra payload is skipped.
bool read_record_header(SeriesFile& f, RecordHeader& h);

// Reads one record of at least 4*k bytes; its first k values go to dest[0..k-1],
// the rest is skipped. With k <= 0 the record is consumed and nothing is stored.
void read_record_values(SeriesFile& f, int32_t k, float* dest);

void write_record_header(SeriesFile& f, const RecordHeader& h);
void write_record_values(SeriesFile& f, int32_t k, const float* values);

// Throws unless a header's W4 can serve as a count of stored values (0 ... MAX_POINTS).
void check_value_count(const SeriesFile& f, int32_t w4);

// Reads the next header of a series into h and checks that its pair fits the fixed
// capacity given that `pairs_before` pairs were read already. Returns false at the
// normal end.
bool read_series_header(SeriesFile& f, int32_t pairs_before, RecordHeader& h);

// Reads the next record pair of a series: the header as read_series_header does,
// and its W4 values into row[0..W4-1]. Returns false at the normal end.
bool read_series_pair(SeriesFile& f, int32_t pairs_before, RecordHeader& h, float* row);

// Reads the file to its end into s, in the layout its `lanes` asks for (storage
// zero-filled), and sets s.depth. Each record goes from the file buffer straight
// to its tiles.
void read_field_series(SeriesFile& f, FieldSeries& s);

// Starts the output: the file is emptied (a regular file) or refused (one that
// may not be written). The first record written does this; a run with no record
// to write calls it so that no older result is left in place.
void begin_output(SeriesFile& f);

// Sends pending output to the file; throws if the system refuses it, and then
// drops that output, so that the fatal path does not try it again.
void flush_output(SeriesFile& f);
