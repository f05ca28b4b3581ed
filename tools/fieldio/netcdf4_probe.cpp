#include "netcdf4_probe.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netcdf.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "interrupts.hpp"
#include "netcdf_common.hpp"
#include "run_error.hpp"

namespace {

constexpr double DEFAULT_SECONDS = 30;
// Values read at a time, and whole coordinates read up to this length.
constexpr size_t BLOCK_VALUES = size_t(1) << 20;

// HDF5's signature at the start of the file or after a user block (512, 1024,
// 2048, ... bytes), where libhdf5 looks for it too.
bool is_hdf5(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const unsigned char magic[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
    bool found = false;
    for (off_t at = 0; !found && at + 8 <= st.st_size; at = at == 0 ? 512 : at * 2) {
        unsigned char head[8];
        if (::pread(fd, head, 8, at) != 8) break;
        found = std::memcmp(head, magic, 8) == 0;
    }
    ::close(fd);
    return found;
}

// What follows runs in the child. netCDF's errors only end the look: the run
// reports them when it reads the file itself.

void read_attributes(int nc, int var, int natts)
{
    for (int a = 0; a < natts; ++a) {
        char name[NC_MAX_NAME + 1];
        nc_type t;
        size_t len, size;
        if (nc_inq_attname(nc, var, a, name) != NC_NOERR || nc_inq_att(nc, var, name, &t, &len) != NC_NOERR) continue;
        if (t == NC_STRING) {
            std::vector<char*> v(len ? len : 1);
            if (nc_get_att_string(nc, var, name, v.data()) == NC_NOERR) nc_free_string(len, v.data());
        } else if (t <= NC_UINT64 && nc_inq_type(nc, t, nullptr, &size) == NC_NOERR) {
            std::vector<unsigned char> v(len * size + 1);
            nc_get_att(nc, var, name, v.data());
        }
    }
}

// One step of the variable, in blocks along its first grid dimension.
void read_step(int nc, int var, int rank, const size_t* sizes, size_t step)
{
    size_t start[NC_MAX_VAR_DIMS] = {}, count[NC_MAX_VAR_DIMS] = {};
    start[0] = step;
    count[0] = 1;
    if (rank == 1) {
        double v;
        nc_get_vara_double(nc, var, start, count, &v);
        return;
    }
    size_t inner = 1;
    for (int d = 2; d < rank; ++d) {
        count[d] = sizes[d];
        inner *= sizes[d];
    }
    const size_t rows = std::max<size_t>(1, BLOCK_VALUES / std::max<size_t>(inner, 1));
    std::vector<double> block(std::min(rows, std::max<size_t>(sizes[1], 1)) * inner);
    for (size_t i = 0; i < sizes[1]; i += rows) {
        start[1] = i;
        count[1] = std::min(rows, sizes[1] - i);
        if (nc_get_vara_double(nc, var, start, count, block.data()) != NC_NOERR) return;
    }
}

// The coordinate variable of a dimension: whole when short, else its ends.
void read_coordinate(int nc, int dimid, size_t len)
{
    const int cv = len == 0 ? -1 : coordinate_variable(nc, dimid);
    nc_type t;
    if (cv < 0 || nc_inq_vartype(nc, cv, &t) != NC_NOERR || !is_numeric(t)) return;
    if (len <= BLOCK_VALUES) {
        std::vector<double> v(len);
        nc_get_var_double(nc, cv, v.data());
    } else {
        double v;
        const size_t first = 0, last = len - 1;
        nc_get_var1_double(nc, cv, &first, &v);
        nc_get_var1_double(nc, cv, &last, &v);
    }
}

void look(const char* path, const char* name)
{
    int nc, ndims, nvars, natts, unlimited;
    if (nc_open(path, NC_NOWRITE, &nc) != NC_NOERR) return;
    if (nc_inq(nc, &ndims, &nvars, &natts, &unlimited) != NC_NOERR) return;
    std::vector<int> dimids(size_t(std::max(ndims, 1)));
    if (nc_inq_dimids(nc, &ndims, dimids.data(), 0) != NC_NOERR) return;
    // Past an error to the end of the header: the run may read what follows it.
    for (int d = 0; d < ndims; ++d) {
        char dim[NC_MAX_NAME + 1];
        size_t len;
        nc_inq_dim(nc, dimids[size_t(d)], dim, &len);
    }
    read_attributes(nc, NC_GLOBAL, natts);
    for (int v = 0; v < nvars; ++v) {
        char n[NC_MAX_NAME + 1];
        nc_type t;
        int rank, dims[NC_MAX_VAR_DIMS], vatts;
        if (nc_inq_var(nc, v, n, &t, &rank, dims, &vatts) == NC_NOERR) read_attributes(nc, v, vatts);
    }
    int var, rank, dims[NC_MAX_VAR_DIMS];
    nc_type t;
    if (nc_inq_varid(nc, name, &var) != NC_NOERR) return;
    if (nc_inq_var(nc, var, nullptr, &t, &rank, dims, nullptr) != NC_NOERR || !is_numeric(t) || rank < 1) return;
    size_t sizes[NC_MAX_VAR_DIMS];
    for (int d = 0; d < rank; ++d) {
        if (nc_inq_dimlen(nc, dims[d], &sizes[d]) != NC_NOERR) return;
        read_coordinate(nc, dims[d], sizes[d]);
    }
    if (sizes[0] == 0) return;
    if (rank == 1 && sizes[0] <= BLOCK_VALUES) {
        // A series: it is read whole.
        std::vector<double> v(sizes[0]);
        nc_get_var_double(nc, var, v.data());
    } else {
        read_step(nc, var, rank, sizes, 0);
        read_step(nc, var, rank, sizes, sizes[0] - 1);
    }
    nc_close(nc);
}

[[noreturn]] void child(const std::string& path, const std::string& var, pid_t parent, int done)
{
    // Nothing of it outlives the run, whatever ends the run.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    const struct rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    // Whatever the library prints on its way down is not the run's to show.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    look(path.c_str(), var.c_str());
    ::close(done);
    ::_exit(0);
}

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
};

struct Child {
    pid_t pid = -1;
    int status = 0;
    ~Child()
    {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    void reap()
    {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }
};

std::string seconds_text(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", s);
    return text;
}

} // namespace

double netcdf4_probe_seconds()
{
    const char* text = std::getenv("FIELDNEFF_OPEN_TIMEOUT");
    if (!text || !*text) return DEFAULT_SECONDS;
    char* end = nullptr;
    const double s = std::strtod(text, &end);
    return *end == '\0' && s > 0 && s < 1e6 ? s : DEFAULT_SECONDS;
}

void probe_netcdf4_input(const std::string& path, const std::string& var)
{
    if (!is_hdf5(path)) return;
    const double seconds = netcdf4_probe_seconds();
    // The child holds the pipe's writing end: it closes when the child ends,
    // however it ends.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) fail_errno(path, errno);
    const Descriptor reading{ends[0]};
    const pid_t parent = ::getpid();
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) child(path, var, parent, ends[1]);
    ::close(ends[1]);
    if (c.pid < 0) fail_errno(path, errno);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool ended = false;
    while (!ended) {
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{reading.fd, POLLIN, 0};
        // In slices, so that an interrupt is answered within a tenth of a second.
        const int r = ::poll(&p, 1, int(std::min(left * 1000, 100.0)) + 1);
        if (r > 0) {
            char byte;
            ended = ::read(reading.fd, &byte, 1) <= 0;
        }
        check_interrupt();
    }
    if (!ended)
        fail(path, "reading its header and the first and last steps of \"" + var + "\" did not end within " +
                       seconds_text(seconds) +
                       " s, so the netCDF-4 file is damaged or its disk very slow (set FIELDNEFF_OPEN_TIMEOUT to "
                       "the seconds to wait)");
    c.reap();
    if (!WIFEXITED(c.status) || WEXITSTATUS(c.status) != 0)
        fail(path, "reading its header and the first and last steps of \"" + var +
                       "\" crashed the netCDF library: the netCDF-4 file is damaged");
}
