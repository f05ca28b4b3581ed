#include "record_access.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "run_frame.hpp"

namespace {

void attach(SeriesFile& f, int fd, const char* path, bool regular)
{
    f = SeriesFile{};
    f.fd = fd;
    std::snprintf(f.name, sizeof f.name, "%s", path);
    f.regular = regular;
    f.buf = static_cast<unsigned char*>(std::malloc(SERIES_BUFFER_BYTES));
    if (!f.buf) fatal(path, "cannot reserve a file buffer");
}

// The bytes gathered in memory go to the output's path through output_file.
void write_gathered(RecordOutput& out)
{
    if (::lseek(out.f.fd, 0, SEEK_SET) != 0) fatal_errno(out.path, errno);
    static OutputFile file;
    begin_output_file(file, out.path);
    for (;;) {
        const ssize_t n = ::read(out.f.fd, out.f.buf, SERIES_BUFFER_BYTES);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) output_fatal(out.path, std::strerror(errno));
        if (n == 0) break;
        write_output_file(file, out.f.buf, size_t(n));
    }
    commit_output_file(file);
    ::close(out.f.fd);
}

} // namespace

void open_record_input(RecordInput& in, const char* path, bool first_pairs_only)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fatal_errno(path, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) fatal_errno(path, errno);
    if (S_ISDIR(st.st_mode)) fatal_errno(path, EISDIR);
    attach(in.f, fd, path, S_ISREG(st.st_mode) && !first_pairs_only);
    in.pairs_read = 0;
}

void close_record_input(RecordInput& in)
{
    if (in.f.mapped) {
        ::munmap(in.f.buf, in.f.len);
        in.f.buf = in.f.set_aside;
        in.f.mapped = false;
    }
    std::free(in.f.buf);
    in.f.buf = nullptr;
    in.f.set_aside = nullptr;
    if (in.f.fd >= 0) ::close(in.f.fd);
    in.f.fd = -1;
}

void open_record_output(RecordOutput& out, const char* path)
{
    // The record writer reports its own failures with no way back to remove a
    // half-written file, so it writes into memory, where it cannot fail for want
    // of disk, and output_file takes the bytes to disk.
    const int fd = ::memfd_create("fieldio-records", MFD_CLOEXEC);
    if (fd < 0) fatal_errno(path, errno);
    attach(out.f, fd, path, false);
    std::snprintf(out.path, sizeof out.path, "%s", path);
    out.work_file = false;
}

void open_work_record_output(RecordOutput& out, const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) fatal_errno(path, errno);
    attach(out.f, fd, path, false);
    std::snprintf(out.path, sizeof out.path, "%s", path);
    out.work_file = true;
}

bool read_pair(RecordInput& in, RecordHeader& h, float* values)
{
    if (!read_record_header(in.f, h)) return false;
    if (h.w4 < 0 || h.w4 > MAX_POINTS) {
        char cause[128];
        std::snprintf(cause, sizeof cause, "record pair %d: W4 = %d is outside 0 … %d", in.pairs_read + 1, h.w4,
                      MAX_POINTS);
        fatal(in.f.name, cause);
    }
    read_record_values(in.f, h.w4, values);
    ++in.pairs_read;
    return true;
}

void read_pair_number(RecordInput& in, int32_t k, RecordHeader& h, float* values)
{
    while (in.pairs_read < k) {
        if (!read_pair(in, h, values)) {
            char cause[96];
            std::snprintf(cause, sizeof cause, "has %d record pairs, so there is no pair %d", in.pairs_read, k);
            fatal(in.f.name, cause);
        }
    }
}

void write_pair(RecordOutput& out, const RecordHeader& h, const float* values)
{
    write_record_header(out.f, h);
    write_record_values(out.f, h.w4, values);
}

void close_record_output(RecordOutput& out)
{
    if (out.f.fd < 0) return;
    if (out.f.output_started) flush_output(out.f);
    if (out.work_file) {
        if (::close(out.f.fd) != 0) fatal_errno(out.path, errno);
    } else {
        write_gathered(out);
    }
    out.f.fd = -1;
    std::free(out.f.buf);
    out.f.buf = nullptr;
}