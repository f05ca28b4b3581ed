#include "netcdf_classic_check.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netcdf.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "run_error.hpp"

namespace {

struct ClosedAtEnd {
    int fd;
    ~ClosedAtEnd() { ::close(fd); }
};

constexpr uint32_t TAG_DIMENSION = 0x0A, TAG_VARIABLE = 0x0B, TAG_ATTRIBUTE = 0x0C;
constexpr uint64_t UNKNOWN = ~uint64_t(0);

// Reads the header's big-endian fields in order; the first field that is not
// there, or does not make sense, stops it with a reason.
struct Header {
    const unsigned char* p;
    uint64_t pos, bytes, file_bytes;
    int version; // 1, 2 or 5
    bool short_read = false;
    const char* bad = nullptr;

    bool take(uint64_t n)
    {
        if (bad || short_read) return false;
        if (n > file_bytes - pos) {
            bad = "the header runs past the end of the file";
            return false;
        }
        if (n > bytes - pos) {
            short_read = true;
            return false;
        }
        return true;
    }
    uint64_t number(int width)
    {
        if (!take(uint64_t(width))) return 0;
        uint64_t v = 0;
        for (int i = 0; i < width; ++i) v = v << 8 | p[pos + uint64_t(i)];
        pos += uint64_t(width);
        return v;
    }
    uint64_t u32() { return number(4); }
    // Counts and lengths: 64-bit in CDF-5, and never negative.
    uint64_t count()
    {
        const uint64_t v = number(version == 5 ? 8 : 4);
        if (v >> (version == 5 ? 63 : 31)) fail("a count is negative");
        return v;
    }
    void skip(uint64_t n)
    {
        if (take(n)) pos += n;
    }
    void fail(const char* why)
    {
        if (!bad) bad = why;
    }
    bool ok() const { return !bad && !short_read; }
    uint64_t left() const { return file_bytes - pos; }
};

uint64_t padded(uint64_t n) { return n > UNKNOWN - 3 ? UNKNOWN : (n + 3) / 4 * 4; }

uint64_t times(uint64_t a, uint64_t b)
{
    if (a != 0 && b > UNKNOWN / a) return UNKNOWN;
    return a * b;
}

uint64_t plus(uint64_t a, uint64_t b) { return b > UNKNOWN - a ? UNKNOWN : a + b; }

// Bytes of one value of a classic type, 0 for a number that names none.
uint64_t type_size(uint64_t type, int version)
{
    switch (type) {
    case NC_BYTE: case NC_CHAR: return 1;
    case NC_SHORT: return 2;
    case NC_INT: case NC_FLOAT: return 4;
    case NC_DOUBLE: return 8;
    default: break;
    }
    if (version != 5) return 0;
    switch (type) {
    case NC_UBYTE: return 1;
    case NC_USHORT: return 2;
    case NC_UINT: return 4;
    case NC_INT64: case NC_UINT64: return 8;
    default: return 0;
    }
}

void skip_name(Header& h)
{
    const uint64_t n = h.count();
    if (h.ok() && n > h.left()) h.fail("a name is longer than the file");
    if (h.ok() && n == 0) h.fail("a name is empty");
    h.skip(padded(n));
}

// The list's tag and element count: an absent list is two zero words.
uint64_t list_start(Header& h, uint32_t tag, uint64_t smallest_element, const char* what)
{
    const uint64_t t = h.u32();
    const uint64_t n = h.count();
    if (!h.ok()) return 0;
    if (t == 0 && n == 0) return 0;
    if (t != tag) {
        h.fail(what);
        return 0;
    }
    if (n > h.left() / smallest_element) h.fail("a list holds more entries than the file could");
    return n;
}

void skip_attributes(Header& h)
{
    const uint64_t n = list_start(h, TAG_ATTRIBUTE, 12, "an attribute list has a wrong tag");
    for (uint64_t a = 0; a < n && h.ok(); ++a) {
        skip_name(h);
        const uint64_t size = type_size(h.u32(), h.version);
        if (h.ok() && size == 0) h.fail("an attribute has an unknown type");
        const uint64_t values = h.count();
        if (h.ok() && times(values, size) > h.left()) h.fail("an attribute is longer than the file");
        h.skip(padded(times(values, size)));
    }
}

} // namespace

ClassicHeader classic_data_end(const unsigned char* start, uint64_t bytes, uint64_t file_bytes, uint64_t& end,
                               char* why)
{
    std::vector<uint64_t> dim_len(NC_MAX_DIMS), rec_begin(NC_MAX_VARS), rec_bytes(NC_MAX_VARS);
    end = 0;
    why[0] = '\0';
    Header h{start, 0, bytes, file_bytes, 0};
    auto result = [&]() {
        if (h.bad) {
            std::snprintf(why, 160, "%s (at byte %llu)", h.bad, static_cast<unsigned long long>(h.pos));
            return ClassicHeader::damaged;
        }
        return h.short_read ? ClassicHeader::incomplete : ClassicHeader::ok;
    };
    if (!h.take(4)) return result();
    h.version = start[3];
    h.pos = 4;
    if (h.version != 1 && h.version != 2 && h.version != 5) {
        h.fail("the version byte is not 1, 2 or 5");
        return result();
    }
    const uint64_t numrecs = h.number(h.version == 5 ? 8 : 4);
    const bool streaming = numrecs == (h.version == 5 ? UNKNOWN : 0xFFFFFFFFu);

    const uint64_t ndims = list_start(h, TAG_DIMENSION, 8, "the dimension list has a wrong tag");
    if (ndims > NC_MAX_DIMS) h.fail("more than 1024 dimensions");
    int record_dim = -1;
    for (uint64_t d = 0; d < ndims && h.ok(); ++d) {
        skip_name(h);
        dim_len[d] = h.count();
        if (h.ok() && dim_len[d] == 0) {
            if (record_dim >= 0) h.fail("two unlimited dimensions");
            record_dim = int(d);
        }
    }
    skip_attributes(h);

    const uint64_t nvars = list_start(h, TAG_VARIABLE, 24, "the variable list has a wrong tag");
    if (nvars > NC_MAX_VARS) h.fail("more than 8192 variables");
    int nrec = 0;
    uint64_t recsize = 0, rec_unpadded = 0;
    for (uint64_t v = 0; v < nvars && h.ok(); ++v) {
        skip_name(h);
        const uint64_t rank = h.count();
        if (h.ok() && rank > NC_MAX_VAR_DIMS) h.fail("a variable has more than 1024 dimensions");
        uint64_t values = 1;
        bool record = false;
        for (uint64_t r = 0; r < rank && h.ok(); ++r) {
            const uint64_t id = h.count();
            if (!h.ok()) break;
            if (id >= ndims) {
                h.fail("a variable names a dimension that does not exist");
                break;
            }
            if (int(id) == record_dim) {
                if (r != 0) h.fail("the unlimited dimension is not a variable's first");
                record = true;
            } else {
                values = times(values, dim_len[id]);
            }
        }
        skip_attributes(h);
        const uint64_t size = type_size(h.u32(), h.version);
        if (h.ok() && size == 0) h.fail("a variable has an unknown type");
        h.number(h.version == 5 ? 8 : 4); // vsize: worked out below, as it overflows in CDF-1 and CDF-2
        const uint64_t begin = h.number(h.version == 1 ? 4 : 8);
        if (!h.ok()) break;
        const uint64_t data = times(values, size);
        if (record) {
            rec_begin[nrec] = begin;
            rec_bytes[nrec++] = data;
            recsize = plus(recsize, padded(data));
            rec_unpadded = data;
        } else if (data > 0) {
            end = end > plus(begin, data) ? end : plus(begin, data);
        }
    }
    if (!h.ok()) return result();
    if (nrec == 1) recsize = rec_unpadded; // a lone record variable is not padded
    if (!streaming && numrecs > 0)
        for (int i = 0; i < nrec; ++i) {
            if (rec_bytes[i] == 0) continue;
            const uint64_t last = plus(plus(rec_begin[i], times(numrecs - 1, recsize)), rec_bytes[i]);
            end = end > last ? end : last;
        }
    if (end < h.pos) end = h.pos;
    return ClassicHeader::ok;
}

void check_classic_netcdf(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return; // libnetcdf says why
    const ClosedAtEnd closer{fd};
    unsigned char magic[4] = {};
    if (::pread(fd, magic, 4, 0) != 4 || std::memcmp(magic, "CDF", 3) != 0) return;
    // Most headers are a few kilobytes; a larger one is read again at twice the size.
    const uint64_t file_bytes = uint64_t(st.st_size);
    uint64_t want = 1 << 16;
    uint64_t end = 0;
    char why[160];
    std::vector<unsigned char> buf;
    for (;;) {
        const uint64_t bytes = want < file_bytes ? want : file_bytes;
        buf.resize(bytes ? size_t(bytes) : 1);
        uint64_t got = 0;
        while (got < bytes) {
            const ssize_t n = ::pread(fd, buf.data() + got, size_t(bytes - got), off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail_errno(path, n < 0 ? errno : EIO);
            got += uint64_t(n);
        }
        const ClassicHeader r = classic_data_end(buf.data(), bytes, file_bytes, end, why);
        if (r == ClassicHeader::ok) break;
        if (r == ClassicHeader::damaged) fail(path, std::string("a damaged classic NetCDF header: ") + why);
        want *= 2;
    }
    if (end > file_bytes)
        fail(path, "is cut short: its header describes " + std::to_string(end) + " bytes, the file holds " +
                       std::to_string(file_bytes) + " (a copy or download that stopped early?)");
}
