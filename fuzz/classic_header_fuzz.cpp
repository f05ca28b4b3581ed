// libFuzzer target: any bytes as a classic NetCDF file (the magic is put in
// front when they lack it, so that most inputs reach the header). The header
// check reads no byte it is not given (each prefix is its own allocation, which
// AddressSanitizer watches), asks for more only while more of the file exists,
// gives every prefix the verdict of the whole file or asks for more, and names
// a reason for a damaged header. A header it accepts, with its data within the
// file, is what libnetcdf then opens: that must not crash either.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netcdf.h>
#include <netcdf_mem.h>
#include <string>
#include <vector>

#include "netcdf_classic_check.hpp"

namespace {

struct Verdict {
    ClassicHeader result;
    uint64_t end;
    std::string why;
};

Verdict check(const std::vector<unsigned char>& file, uint64_t bytes)
{
    // Exactly `bytes` bytes, in an allocation of their own.
    std::vector<unsigned char> prefix(file.begin(), file.begin() + long(bytes));
    prefix.shrink_to_fit();
    Verdict v{};
    char why[160];
    std::memset(why, 'x', sizeof why);
    v.result = classic_data_end(prefix.data(), bytes, file.size(), v.end, why);
    if (std::memchr(why, '\0', sizeof why) == nullptr) std::abort();
    v.why = why;
    return v;
}

// What the tools ask of an opened file: every dimension, variable and attribute.
void walk(int nc)
{
    int ndims = 0, nvars = 0, natts = 0, unlimited = 0;
    if (nc_inq(nc, &ndims, &nvars, &natts, &unlimited) != NC_NOERR) return;
    for (int d = 0; d < ndims; ++d) {
        char name[NC_MAX_NAME + 1];
        size_t len;
        nc_inq_dim(nc, d, name, &len);
    }
    for (int v = -1; v < nvars; ++v) {
        char name[NC_MAX_NAME + 1];
        nc_type t;
        int rank, dims[NC_MAX_VAR_DIMS], atts = natts;
        if (v >= 0 && nc_inq_var(nc, v, name, &t, &rank, dims, &atts) != NC_NOERR) continue;
        for (int a = 0; a < atts; ++a) {
            size_t len = 0, size = 0;
            if (nc_inq_attname(nc, v, a, name) != NC_NOERR || nc_inq_att(nc, v, name, &t, &len) != NC_NOERR ||
                nc_inq_type(nc, t, nullptr, &size) != NC_NOERR || len * size > (size_t(1) << 20))
                continue;
            std::vector<unsigned char> value(len * size + 1);
            nc_get_att(nc, v, name, value.data());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> file(data, data + size);
    if (size < 4 || std::memcmp(data, "CDF", 3) != 0) {
        const unsigned char magic[4] = {'C', 'D', 'F', static_cast<unsigned char>(size ? 1 + data[0] % 2 : 1)};
        file.insert(file.begin(), magic, magic + 4);
    }
    const Verdict whole = check(file, file.size());
    // The whole file is there: nothing more to ask for.
    if (whole.result == ClassicHeader::incomplete) std::abort();
    if (whole.result == ClassicHeader::damaged && whole.why.find(" (at byte ") == std::string::npos) std::abort();
    if (whole.result == ClassicHeader::ok && whole.end < 32) std::abort();
    for (const uint64_t bytes : {uint64_t(0), uint64_t(4), uint64_t(file.size() / 3), uint64_t(file.size() / 2),
                                 uint64_t(file.size() - 1)}) {
        if (bytes >= file.size()) continue;
        const Verdict part = check(file, bytes);
        if (part.result == ClassicHeader::incomplete) continue;
        if (part.result != whole.result || part.end != whole.end || part.why != whole.why) std::abort();
    }
    if (whole.result == ClassicHeader::ok && whole.end <= file.size()) {
        int nc = -1;
        if (nc_open_mem("fuzzed.nc", NC_NOWRITE, file.size(), file.data(), &nc) == NC_NOERR) {
            walk(nc);
            nc_close(nc);
        }
    }
    return 0;
}
