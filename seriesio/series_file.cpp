#include "series_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <immintrin.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "run_error.hpp"

namespace {

// Fills the read buffer so that at least `want` bytes (capped at the buffer size)
// are available, or the file has ended. Returns the bytes available.
size_t fill(SeriesFile& f, size_t want)
{
    if (f.mapped) {
        // What has been read of a mapped input goes back to the system as reading
        // goes on, so a program never holds the file on top of the matrix it
        // reads it into. Nothing touches those pages again.
        constexpr size_t chunk = size_t{2} << 20;
        const size_t upto = f.pos / chunk * chunk;
        if (upto > f.released) {
            ::madvise(f.buf + f.released, upto - f.released, MADV_DONTNEED);
            f.released = upto;
        }
        return f.len - f.pos;
    }
    if (f.len - f.pos >= want) return f.len - f.pos;
    if (!f.map_tried) {
        f.map_tried = true;
        // A regular input is read through one mapping of the whole file: no copy
        // through the kernel, and its end is known. Where mapping fails, the file
        // is read through the buffer instead. Its pages are mapped as reading
        // comes to them, not all at once: handed back behind the reading, the file
        // is then never held whole beside the arrays it is read into.
        struct stat st;
        if (f.regular && f.pos == 0 && f.len == 0 && ::fstat(f.fd, &st) == 0 && st.st_size > 0 &&
            uint64_t(st.st_size) <= SIZE_MAX) {
            void* m = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, f.fd, 0);
            if (m != MAP_FAILED) {
                f.set_aside = f.buf;
                f.buf = static_cast<unsigned char*>(m);
                f.len = size_t(st.st_size);
                f.mapped = true;
                return f.len;
            }
        }
    }
    if (f.pos > 0) {
        std::memmove(f.buf, f.buf + f.pos, f.len - f.pos);
        f.len -= f.pos;
        f.pos = 0;
    }
    if (want > SERIES_BUFFER_BYTES) want = SERIES_BUFFER_BYTES;
    while (f.len < want) {
        ssize_t got = ::read(f.fd, f.buf + f.len, SERIES_BUFFER_BYTES - f.len);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail_errno(f.name, errno);
        }
        if (got == 0) break;
        f.len += size_t(got);
    }
    return f.len;
}

[[noreturn]] void ends_inside_record(const SeriesFile& f) { fail(f.name, "file ends inside a record"); }

// Copies n bytes of the file to dest (or skips them when dest is null). Large
// spans bypass the buffer.
void take(SeriesFile& f, unsigned char* dest, uint64_t n)
{
    while (n > 0) {
        if (f.pos == f.len) {
            if (f.mapped) ends_inside_record(f);
            f.pos = f.len = 0;
            if (dest && n >= SERIES_BUFFER_BYTES) {
                f.map_tried = true; // the file position has moved: never map after this
                ssize_t got = ::read(f.fd, dest, n > (uint64_t{1} << 30) ? (size_t{1} << 30) : size_t(n));
                if (got < 0) {
                    if (errno == EINTR) continue;
                    fail_errno(f.name, errno);
                }
                if (got == 0) ends_inside_record(f);
                dest += got;
                n -= uint64_t(got);
                continue;
            }
            if (fill(f, 1) == 0) ends_inside_record(f);
        }
        size_t span = f.len - f.pos;
        if (span > n) span = size_t(n);
        if (dest) {
            std::memcpy(dest, f.buf + f.pos, span);
            dest += span;
        }
        f.pos += span;
        n -= span;
    }
}

int32_t take_marker(SeriesFile& f)
{
    unsigned char b[4];
    take(f, b, 4);
    int32_t m;
    std::memcpy(&m, b, 4);
    return m;
}

// Reads the leading marker of the next record and checks that the payload can
// hold `need` bytes.
int32_t open_record(SeriesFile& f, uint64_t need)
{
    int32_t p = take_marker(f);
    if (p < 0) {
        char cause[96];
        std::snprintf(cause, sizeof cause, "record length is negative (%d)", p);
        fail(f.name, cause);
    }
    if (uint64_t(p) < need) {
        char cause[128];
        std::snprintf(cause, sizeof cause, "short record (%d bytes where %llu are needed)", p,
                      static_cast<unsigned long long>(need));
        fail(f.name, cause);
    }
    return p;
}

// Skips what the reader does not use and checks the trailing marker: a mismatch
// means the file is not what its framing claims, so nothing after it can be trusted.
void close_record(SeriesFile& f, int32_t payload, uint64_t used)
{
    take(f, nullptr, uint64_t(payload) - used);
    int32_t trail = take_marker(f);
    if (trail != payload) {
        char cause[128];
        std::snprintf(cause, sizeof cause, "record markers disagree (leading %d, trailing %d)", payload,
                      trail);
        fail(f.name, cause);
    }
}

void put(SeriesFile& f, const void* src, size_t n)
{
    // The old contents go when the first record is written, not at open time,
    // so a run that stops on an input error leaves an existing file as it was.
    if (!f.output_started) begin_output(f);
    const auto* p = static_cast<const unsigned char*>(src);
    while (n > 0) {
        if (f.len == SERIES_BUFFER_BYTES) flush_output(f);
        size_t span = SERIES_BUFFER_BYTES - f.len;
        if (span > n) span = n;
        std::memcpy(f.buf + f.len, p, span);
        f.len += span;
        p += span;
        n -= span;
    }
}

void put_marker(SeriesFile& f, int32_t m) { put(f, &m, 4); }

} // namespace

namespace {

constexpr size_t HUGE_PAGE = size_t{2} << 20;
constexpr size_t MATRIX_BYTES = size_t(MAX_STEPS) * MAX_POINTS * sizeof(float);
// The same in whole huge pages.
constexpr size_t TILES_SPAN = (MATRIX_BYTES + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);

void advise_huge_pages(void* m, size_t bytes)
{
    // Huge pages cut the cost of first touching 80 MB from some 20000 page faults
    // to a few dozen. Only advice: without them everything works the same.
    const uintptr_t start = (reinterpret_cast<uintptr_t>(m) + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(m) + bytes) & ~uintptr_t(HUGE_PAGE - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

} // namespace

float* reserve_matrix()
{
    // calloc of this size maps fresh zero pages: nothing is touched until used.
    void* m = std::calloc(MATRIX_BYTES, 1);
    if (!m) fail("memory", "cannot reserve the series matrix");
    advise_huge_pages(m, MATRIX_BYTES);
    return static_cast<float*>(m);
}

float* reserve_tiles()
{
    // Fresh anonymous pages read as zero and cost nothing until touched. Aligned to
    // a huge page: all of it can lie in huge pages, and each step of a 16-lane tile
    // is one whole cache line.
    void* m = ::mmap(nullptr, TILES_SPAN + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) fail("memory", "cannot reserve the series matrix");
    const uintptr_t base = reinterpret_cast<uintptr_t>(m);
    const uintptr_t start = (base + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
    if (start > base) ::munmap(m, start - base);
    ::munmap(reinterpret_cast<void*>(start + TILES_SPAN), base + HUGE_PAGE - start);
    advise_huge_pages(reinterpret_cast<void*>(start), TILES_SPAN);
    return reinterpret_cast<float*>(start);
}

void release_tiles(float* m)
{
    if (m) ::munmap(m, TILES_SPAN);
}

bool read_record_header(SeriesFile& f, RecordHeader& h)
{
    if (fill(f, 1) == 0) return false;
    int32_t payload = open_record(f, 16);
    int32_t w[4];
    take(f, reinterpret_cast<unsigned char*>(w), 16);
    close_record(f, payload, 16);
    h = RecordHeader{w[0], w[1], w[2], w[3]};
    return true;
}

void read_record_values(SeriesFile& f, int32_t k, float* dest)
{
    uint64_t need = k > 0 ? uint64_t(k) * 4 : 0;
    int32_t payload = open_record(f, need);
    if (need > 0) take(f, reinterpret_cast<unsigned char*>(dest), need);
    close_record(f, payload, need);
}

void write_record_header(SeriesFile& f, const RecordHeader& h)
{
    const int32_t w[4] = {h.w1, h.w2, h.w3, h.w4};
    put_marker(f, 16);
    put(f, w, 16);
    put_marker(f, 16);
}

void write_record_values(SeriesFile& f, int32_t k, const float* values)
{
    if (k < 0) k = 0;
    put_marker(f, k * 4);
    put(f, values, size_t(k) * 4);
    put_marker(f, k * 4);
}

void begin_output(SeriesFile& f)
{
    if (f.output_started) return;
    if (f.write_errno != 0) fail_errno(f.name, f.write_errno);
    if (f.regular && ::ftruncate(f.fd, 0) != 0) fail_errno(f.name, errno);
    f.output_started = true;
    f.writing = true;
    f.pos = f.len = 0;
}

void flush_output(SeriesFile& f)
{
    if (!f.writing) return;
    size_t done = 0;
    while (done < f.len) {
        ssize_t put_n = ::write(f.fd, f.buf + done, f.len - done);
        if (put_n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            f.len = 0; // nothing more is attempted on this file, even at the fatal path
            fail_errno(f.name, err);
        }
        done += size_t(put_n);
    }
    f.len = 0;
}

void check_value_count(const SeriesFile& f, int32_t w4)
{
    if (w4 >= 0 && w4 <= MAX_POINTS) return;
    char cause[96];
    std::snprintf(cause, sizeof cause,
                  w4 < 0 ? "negative value count W4 = %d" : "%d values in a record exceed the capacity of 10000", w4);
    fail(f.name, cause);
}

bool read_series_header(SeriesFile& f, int32_t pairs_before, RecordHeader& h)
{
    if (!read_record_header(f, h)) return false;
    if (pairs_before >= MAX_STEPS) fail(f.name, "more record pairs than the capacity of 2000");
    check_value_count(f, h.w4);
    return true;
}

bool read_series_pair(SeriesFile& f, int32_t pairs_before, RecordHeader& h, float* row)
{
    if (!read_series_header(f, pairs_before, h)) return false;
    read_record_values(f, h.w4, row);
    return true;
}

namespace {

// Copies k values (a whole record) to one step of consecutive tiles of `lanes`
// points; a fixed lane count turns each piece into a few vector moves.
template <size_t LANES>
void spread_fixed(const unsigned char* src, size_t k, float* step, size_t depth)
{
    const size_t tile = depth * LANES;
    const size_t whole = k / LANES;
    for (size_t b = 0; b < whole; ++b) std::memcpy(step + b * tile, src + b * LANES * 4, LANES * 4);
    if (k > whole * LANES) std::memcpy(step + whole * tile, src + whole * LANES * 4, (k - whole * LANES) * 4);
}

// Sixteen lanes make one step of a tile one whole cache line (the storage is
// aligned): each piece goes straight to memory, past the caches, instead of first
// reading in the line it replaces. The kernel reads the tiles much later, long
// after these lines would have left the caches anyway.
void spread_lines(const unsigned char* src, size_t k, float* step, size_t depth)
{
    const size_t tile = depth * 16;
    const size_t whole = k / 16;
    for (size_t b = 0; b < whole; ++b) {
        float* to = step + b * tile;
        const auto* from = reinterpret_cast<const float*>(src + b * 64);
        _mm_stream_ps(to, _mm_loadu_ps(from));
        _mm_stream_ps(to + 4, _mm_loadu_ps(from + 4));
        _mm_stream_ps(to + 8, _mm_loadu_ps(from + 8));
        _mm_stream_ps(to + 12, _mm_loadu_ps(from + 12));
    }
    if (k > whole * 16) std::memcpy(step + whole * tile, src + whole * 64, (k - whole * 16) * 4);
}

void spread(const unsigned char* src, size_t k, float* step, size_t lanes, size_t depth)
{
    switch (lanes) {
    case 1: return spread_fixed<1>(src, k, step, depth);
    case 4: return spread_fixed<4>(src, k, step, depth);
    case 8: return spread_fixed<8>(src, k, step, depth);
    case 16:
        if (reinterpret_cast<uintptr_t>(step) % 64 == 0) return spread_lines(src, k, step, depth);
        return spread_fixed<16>(src, k, step, depth);
    }
    const size_t tile = depth * lanes;
    for (size_t p = 0; p < k; p += lanes)
        std::memcpy(step + p / lanes * tile, src + p * 4, (k - p < lanes ? k - p : lanes) * 4);
}

// The reverse of spread_fixed: k values of one step of consecutive tiles into a row.
template <size_t LANES>
void gather_fixed(const float* step, size_t k, float* row, size_t depth)
{
    const size_t tile = depth * LANES;
    const size_t whole = k / LANES;
    for (size_t b = 0; b < whole; ++b) std::memcpy(row + b * LANES, step + b * tile, LANES * 4);
    if (k > whole * LANES) std::memcpy(row + whole * LANES, step + whole * tile, (k - whole * LANES) * 4);
}

// Reads one data record of at least k values and spreads them over step t of the
// tiles: straight from the mapping or the buffer when the record lies there whole
// (a record of at most MAX_POINTS values always fits the buffer), otherwise (a
// file ending inside it, a build with a small buffer) through a row.
void read_record_into_step(SeriesFile& f, int32_t k, FieldSeries& s, int32_t t)
{
    const uint64_t need = uint64_t(k) * 4;
    const int32_t payload = open_record(f, need);
    float* step = s.v + size_t(t) * size_t(s.lanes);
    if (need > 0 && fill(f, need) >= need) {
        spread(f.buf + f.pos, size_t(k), step, size_t(s.lanes), size_t(s.depth));
        f.pos += need;
    } else if (need > 0) {
        std::vector<float> row(static_cast<size_t>(k));
        take(f, reinterpret_cast<unsigned char*>(row.data()), need);
        spread(reinterpret_cast<const unsigned char*>(row.data()), size_t(k), step, size_t(s.lanes), size_t(s.depth));
    }
    close_record(f, payload, need);
}

// Record pairs in the rest of a mapped input by its framing alone, counting up to
// one past the capacity. It stops at the first marker that cannot frame a record;
// the reading proper reports that one, and finds no more pairs than counted here.
int32_t framed_pairs(const SeriesFile& f)
{
    size_t at = f.pos;
    int32_t records = 0;
    while (records < 2 * (MAX_STEPS + 1) && f.len - at >= 4) {
        int32_t payload;
        std::memcpy(&payload, f.buf + at, 4);
        if (payload < 0 || f.len - at - 4 < uint64_t(payload) + 4) break;
        at += 8 + size_t(payload);
        ++records;
    }
    return (records + 1) / 2;
}

} // namespace

void read_field_series(SeriesFile& f, FieldSeries& s)
{
    // Storage beyond MAX_STEPS x MAX_POINTS values would be written otherwise.
    if (s.lanes < 1 || MAX_POINTS % s.lanes != 0) fail(f.name, "tile width does not divide the point capacity");
    s.count = 0;
    s.depth = MAX_STEPS;
    // Tiles as deep as the series (and one step more, which stays 0.0): a short
    // series then lies in the first pages of the storage, and those are all that
    // is ever touched, instead of the head of every tile across all of it.
    fill(f, 1);
    if (f.mapped) {
        const int32_t pairs = framed_pairs(f);
        if (pairs < MAX_STEPS) s.depth = pairs + 1;
        // Counting read a marker in every record, and the system maps the pages
        // around each read: hand them back, or the whole file stays mapped on top
        // of the tiles (which the first record already spreads over). Reading maps
        // each part again as it comes to it.
        ::madvise(f.buf + f.released, f.len - f.released, MADV_DONTNEED);
    }
    RecordHeader h;
    while (read_series_header(f, s.count, h)) {
        // Only a file rewritten while mapped holds more pairs than were counted.
        if (s.count == s.depth) fail(f.name, "file changed while being read");
        read_record_into_step(f, h.w4, s, s.count);
        s.last = h;
        ++s.count;
    }
    _mm_sfence(); // the lines sent past the caches are in memory before anything reads them
}

void gather_step(const FieldSeries& s, int32_t t, int32_t k, float* row)
{
    if (k <= 0) return;
    const float* step = s.v + size_t(t) * size_t(s.lanes);
    const size_t lanes = size_t(s.lanes), depth = size_t(s.depth);
    switch (lanes) {
    case 1: return gather_fixed<1>(step, size_t(k), row, depth);
    case 4: return gather_fixed<4>(step, size_t(k), row, depth);
    case 8: return gather_fixed<8>(step, size_t(k), row, depth);
    case 16: return gather_fixed<16>(step, size_t(k), row, depth);
    }
    const size_t tile = depth * lanes;
    for (size_t p = 0; p < size_t(k); p += lanes)
        std::memcpy(row + p, step + p / lanes * tile, (size_t(k) - p < lanes ? size_t(k) - p : lanes) * 4);
}
