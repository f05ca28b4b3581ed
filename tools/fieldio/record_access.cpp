#include "record_access.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "run_error.hpp"

namespace {

void attach(SeriesFile& f, std::unique_ptr<unsigned char[]>& buffer, int fd, const std::string& path, bool regular)
{
    f = SeriesFile{};
    f.fd = fd;
    std::snprintf(f.name, sizeof f.name, "%s", path.c_str());
    f.regular = regular;
    if (!buffer) buffer = std::make_unique<unsigned char[]>(SERIES_BUFFER_BYTES);
    f.buf = buffer.get();
}

// The bytes gathered in memory go to the output's path through output_file.
void write_gathered(RecordOutput& out)
{
    if (::lseek(out.f.fd, 0, SEEK_SET) != 0) fail_errno(out.path, errno);
    OutputFile file;
    begin_output_file(file, out.path);
    for (;;) {
        const ssize_t n = ::read(out.f.fd, out.buffer.get(), SERIES_BUFFER_BYTES);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail_errno(out.path, errno);
        if (n == 0) break;
        write_output_file(file, out.buffer.get(), size_t(n));
    }
    commit_output_file(file);
}

void close_descriptor(SeriesFile& f)
{
    if (f.fd >= 0) ::close(f.fd);
    f.fd = -1;
}

} // namespace

RecordInput::~RecordInput() { close_record_input(*this); }

RecordOutput::~RecordOutput() { close_descriptor(f); }

void open_record_input(RecordInput& in, const std::string& path, bool first_pairs_only)
{
    close_record_input(in);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail_errno(path, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        fail_errno(path, err);
    }
    attach(in.f, in.buffer, fd, path, S_ISREG(st.st_mode) && !first_pairs_only);
    in.pairs_read = 0;
}

void close_record_input(RecordInput& in)
{
    if (in.f.mapped) ::munmap(in.f.buf, in.f.len);
    in.f.mapped = false;
    in.f.buf = nullptr;
    in.f.set_aside = nullptr;
    close_descriptor(in.f);
}

void open_record_output(RecordOutput& out, const std::string& path)
{
    // The record writer may stop part way; it writes into memory, where it cannot
    // fail for want of disk, and output_file takes the bytes to disk.
    close_descriptor(out.f);
    const int fd = ::memfd_create("fieldio-records", MFD_CLOEXEC);
    if (fd < 0) fail_errno(path, errno);
    attach(out.f, out.buffer, fd, path, false);
    out.path = path;
    out.work_file = false;
}

void open_work_record_output(RecordOutput& out, const std::string& path)
{
    close_descriptor(out.f);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) fail_errno(path, errno);
    attach(out.f, out.buffer, fd, path, false);
    out.path = path;
    out.work_file = true;
}

bool read_pair(RecordInput& in, RecordHeader& h, float* values)
{
    if (!read_record_header(in.f, h)) return false;
    if (h.w4 < 0 || h.w4 > MAX_POINTS)
        fail(in.f.name, "record pair " + std::to_string(in.pairs_read + 1) + ": W4 = " + std::to_string(h.w4) +
                            " is outside 0 … " + std::to_string(MAX_POINTS));
    read_record_values(in.f, h.w4, values);
    ++in.pairs_read;
    return true;
}

void read_pair_number(RecordInput& in, int32_t k, RecordHeader& h, float* values)
{
    while (in.pairs_read < k)
        if (!read_pair(in, h, values))
            fail(in.f.name, "has " + std::to_string(in.pairs_read) + " record pairs, so there is no pair " +
                                std::to_string(k));
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
        const int fd = out.f.fd;
        out.f.fd = -1;
        if (::close(fd) != 0) fail_errno(out.path, errno);
    } else {
        write_gathered(out);
        close_descriptor(out.f);
    }
}
