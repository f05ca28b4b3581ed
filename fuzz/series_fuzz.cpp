// libFuzzer target: any bytes, read as a series file in the three ways the programs
// read one. The reader must never crash or overrun (the sanitizers watch), must
// throw RunError naming the file exactly where a plain walk of the framing finds
// a fault, and must otherwise store exactly the values that walk finds.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "run_error.hpp"
#include "series_file.hpp"

namespace {

const char* const NAME = "fuzzed input";

// The framing walked on the bytes in memory, trusting nothing.
struct Walk {
    const uint8_t* d;
    size_t n;
    size_t at = 0;

    enum Step { RECORD, END, FAULT };
    // On RECORD, [payload, payload + length) is the next record's payload.
    Step next(size_t& payload, uint32_t& length)
    {
        if (at == n) return END;
        if (n - at < 4) return FAULT;
        int32_t lead, trail;
        std::memcpy(&lead, d + at, 4);
        if (lead < 0 || n - at - 4 < uint64_t(lead) + 4) return FAULT;
        std::memcpy(&trail, d + at + 4 + size_t(lead), 4);
        if (trail != lead) return FAULT;
        payload = at + 4;
        length = uint32_t(lead);
        at += size_t(lead) + 8;
        return RECORD;
    }
    // The next record, which must exist and hold at least `need` bytes.
    bool take(size_t need, size_t& payload)
    {
        uint32_t length;
        return next(payload, length) == RECORD && length >= need;
    }
    int32_t word(size_t pos) const
    {
        int32_t w;
        std::memcpy(&w, d + pos, 4);
        return w;
    }
    float value(size_t pos) const
    {
        float v;
        std::memcpy(&v, d + pos, 4);
        return v;
    }
};

struct Expected {
    bool ok = false;
    int32_t count = 0;
    RecordHeader last{};
    std::vector<std::vector<float>> rows;
};

// The header whose payload starts at hp and its data record, W4 counting the
// values: appends the row to e. False where the pair is faulty.
bool take_counted_pair(Walk& w, size_t hp, Expected& e)
{
    const RecordHeader h{w.word(hp), w.word(hp + 4), w.word(hp + 8), w.word(hp + 12)};
    size_t dp;
    if (h.w4 < 0 || h.w4 > MAX_POINTS || !w.take(size_t(h.w4) * 4, dp)) return false;
    std::vector<float> row;
    for (int32_t p = 0; p < h.w4; ++p) row.push_back(w.value(dp + size_t(p) * 4));
    e.rows.push_back(row);
    e.last = h;
    ++e.count;
    return true;
}

// What a whole-series read (lagscan, sigcut) must give.
Expected walk_series(const uint8_t* d, size_t n)
{
    Expected e;
    Walk w{d, n};
    for (;;) {
        size_t hp;
        uint32_t hl;
        const Walk::Step s = w.next(hp, hl);
        if (s == Walk::END) break;
        if (s == Walk::FAULT || hl < 16 || e.count == MAX_STEPS || !take_counted_pair(w, hp, e)) return e;
    }
    e.ok = true;
    return e;
}

// What nstar's file 1 must give: the first value of each pair, W4 unused.
Expected walk_first_values(const uint8_t* d, size_t n)
{
    Expected e;
    Walk w{d, n};
    for (;;) {
        size_t hp, dp;
        uint32_t hl;
        const Walk::Step s = w.next(hp, hl);
        if (s == Walk::END) break;
        if (s == Walk::FAULT || hl < 16 || e.count == MAX_STEPS || !w.take(4, dp)) return e;
        e.rows.push_back({w.value(dp)});
        ++e.count;
    }
    e.ok = true;
    return e;
}

// What nstar's field critical-lag file must give: one required pair, W4 as a count.
Expected walk_one_pair(const uint8_t* d, size_t n)
{
    Expected e;
    Walk w{d, n};
    size_t hp;
    e.ok = w.take(16, hp) && take_counted_pair(w, hp, e);
    return e;
}

// Each value is compared by its bits: the reader copies, it never computes.
bool same_bits(float a, float b) { return std::memcmp(&a, &b, 4) == 0; }

bool same_header(const RecordHeader& a, const RecordHeader& b)
{
    return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3 && a.w4 == b.w4;
}

// An input file on a memory-backed descriptor, read from its start by each reader.
int input_fd(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("fuzzed-series", 0);
    if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0) std::abort();
        done += size_t(n);
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) std::abort();
    return fd;
}

// A regular input is read through one mapping of the whole file, anything else
// through the buffer; `regular` picks the way.
struct Reading {
    SeriesFile f;
    unsigned char buf[SERIES_BUFFER_BYTES];
    Reading(int fd, bool regular)
    {
        f.fd = fd;
        std::strcpy(f.name, NAME);
        f.regular = regular;
        f.buf = buf;
    }
    ~Reading()
    {
        if (f.mapped) ::munmap(f.buf, f.len);
    }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;
};

// The error must name the file it was given and say why.
void check_error(const RunError& e)
{
    if (e.file != NAME || e.cause.empty()) std::abort();
}

// lagscan reads its series in tiles of its kernel's width, sigcut point-major.
void read_as_series(const uint8_t* data, size_t size, bool regular, int32_t lanes)
{
    const Expected e = walk_series(data, size);
    Reading r(input_fd(data, size), regular);
    // One matrix for the whole fuzz run; reserving 80 MB per input would be most
    // of the work. A stored value needs 4 bytes of input and a row 24, which bounds
    // the cells to clear afterwards.
    static float* const matrix = reserve_matrix();
    FieldSeries s;
    s.lanes = lanes;
    s.v = matrix;
    bool ok = true;
    try {
        read_field_series(r.f, s);
    } catch (const RunError& e) {
        check_error(e);
        ok = false;
    }
    if (ok != e.ok) std::abort();
    if (ok) {
        if (s.count != e.count || (s.count > 0 && !same_header(s.last, e.last))) std::abort();
        for (int32_t t = 0; t < s.count; ++t) {
            const std::vector<float>& row = e.rows[size_t(t)];
            for (size_t p = 0; p < row.size(); ++p)
                if (!same_bits(s.v[cell(s, t, int32_t(p))], row[p])) std::abort();
            // The cell just past a row's own count is one no record of that step fills.
            if (row.size() < size_t(MAX_POINTS) && s.v[cell(s, t, int32_t(row.size()))] != 0.0f) std::abort();
        }
    }
    const size_t points = std::min(size / 4 + 1, size_t(MAX_POINTS));
    const size_t steps = std::min(size / 24 + 1, size_t(MAX_STEPS));
    for (size_t p = 0; p < points; ++p)
        for (size_t t = 0; t < steps; ++t) s.v[cell(s, int32_t(t), int32_t(p))] = 0.0f;
}

void read_as_first_values(const uint8_t* data, size_t size, bool regular)
{
    const Expected e = walk_first_values(data, size);
    Reading r(input_fd(data, size), regular);
    static float r1[MAX_STEPS];
    int32_t lags = 0;
    bool ok = true;
    try {
        RecordHeader h;
        while (read_record_header(r.f, h)) {
            if (lags == MAX_STEPS) fail(r.f.name, "more record pairs than the capacity of 2000");
            read_record_values(r.f, 1, &r1[lags]);
            ++lags;
        }
    } catch (const RunError& e) {
        check_error(e);
        ok = false;
    }
    if (ok != e.ok) std::abort();
    if (ok) {
        if (lags != e.count) std::abort();
        for (int32_t t = 0; t < lags; ++t)
            if (!same_bits(r1[t], e.rows[size_t(t)][0])) std::abort();
    }
}

void read_as_one_pair(const uint8_t* data, size_t size, bool regular)
{
    const Expected e = walk_one_pair(data, size);
    Reading r(input_fd(data, size), regular);
    static float values[MAX_POINTS];
    RecordHeader h;
    bool ok = true;
    try {
        if (!read_record_header(r.f, h)) fail(r.f.name, "file ends where a record pair is required");
        check_value_count(r.f, h.w4);
        read_record_values(r.f, h.w4, values);
    } catch (const RunError& e) {
        check_error(e);
        ok = false;
    }
    if (ok != e.ok) std::abort();
    if (ok) {
        if (!same_header(h, e.last)) std::abort();
        for (size_t p = 0; p < e.rows[0].size(); ++p)
            if (!same_bits(values[p], e.rows[0][p])) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const bool regular : {true, false}) {
        read_as_series(data, size, regular, 1);
        read_as_series(data, size, regular, 16);
        read_as_first_values(data, size, regular);
        read_as_one_pair(data, size, regular);
    }
    return 0;
}
