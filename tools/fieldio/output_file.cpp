#include "output_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "run_frame.hpp"

namespace {

OutputFile* pending_outputs[OUTPUT_FILES_MAX] = {};

void forget(OutputFile& out)
{
    for (OutputFile*& p : pending_outputs)
        if (p == &out) p = nullptr;
    out.pending = false;
}

// The directory part of a path, "." when it has none.
std::string directory_of(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    if (!slash) return ".";
    if (slash == path) return "/";
    return std::string(path, size_t(slash - path));
}

const char* base_of(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

[[noreturn]] void refuse(const char* path, const std::string& cause) { output_fatal(path, cause.c_str()); }

// A new file beside target, readable and writable as target is (or as a new file
// would be), opened write-only.
int create_temporary(OutputFile& out, const struct stat* existing)
{
    const std::string dir = directory_of(out.target);
    const char* base = base_of(out.target);
    // Hidden, and recognisably the output's; a long name falls back to a short one.
    std::string name = dir + "/." + base + ".XXXXXX";
    if (std::strlen(base) + 8 > NAME_MAX) name = dir + "/.fieldio.XXXXXX";
    if (name.size() >= sizeof out.temp) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::snprintf(out.temp, sizeof out.temp, "%s", name.c_str());
    const int fd = ::mkostemp(out.temp, O_CLOEXEC);
    if (fd < 0) {
        out.temp[0] = '\0';
        return -1;
    }
    mode_t mode;
    if (existing) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode); // a failure leaves mkostemp's 0600, still the user's own file
    return fd;
}

} // namespace

void refuse_output_over_inputs(const char* out_path, const char* const* inputs, int count)
{
    struct stat o;
    if (::stat(out_path, &o) != 0) return;
    for (int i = 0; i < count; ++i) {
        struct stat in;
        if (inputs[i] == nullptr || ::stat(inputs[i], &in) != 0) continue;
        if (in.st_dev == o.st_dev && in.st_ino == o.st_ino)
            refuse(out_path, std::string("is the input ") + inputs[i] +
                                 " itself; writing it would destroy that input, so choose another output name");
    }
}

void begin_output_file(OutputFile& out, const char* path)
{
    if (out.pending) abandon_output_file(out); // begun again before its commit: the first attempt is dropped
    out = OutputFile{};
    std::snprintf(out.path, sizeof out.path, "%s", path);
    std::snprintf(out.target, sizeof out.target, "%s", path);
    if (std::strlen(path) >= sizeof out.path) refuse(path, std::strerror(ENAMETOOLONG));
    int slot = 0;
    while (slot < OUTPUT_FILES_MAX && pending_outputs[slot]) ++slot;
    if (slot == OUTPUT_FILES_MAX) refuse(path, "too many outputs at once");

    struct stat st;
    bool exists = ::lstat(path, &st) == 0;
    if (!exists && errno != ENOENT) refuse(path, std::strerror(errno));
    if (exists && S_ISLNK(st.st_mode)) {
        if (::stat(path, &st) != 0) {
            if (errno == ENOENT) refuse(path, "is a symbolic link to a file that does not exist");
            refuse(path, std::strerror(errno));
        }
        // A regular file is replaced where it lies; anything else (/dev/stdout on
        // a pipe has no real path) is opened through the link below.
        if (S_ISREG(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path, resolved)) refuse(path, std::strerror(errno));
            std::snprintf(out.target, sizeof out.target, "%s", resolved);
        }
    }
    if (exists && S_ISDIR(st.st_mode)) refuse(path, "is a directory; name a file to write");
    if (exists && !S_ISREG(st.st_mode)) {
        if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
            refuse(path, "is neither a regular file, a FIFO nor a character device, so nothing is written to it");
        // A device or a pipe cannot be replaced: write into it as it is.
        out.fd = ::open(out.target, O_WRONLY | O_CLOEXEC);
        if (out.fd < 0) refuse(path, std::strerror(errno));
    } else {
        // The temporary file would be renamed over a file the user may not write.
        if (exists && ::access(out.target, W_OK) != 0) refuse(path, std::strerror(errno));
        out.fd = create_temporary(out, exists ? &st : nullptr);
        if (out.fd < 0) {
            const int err = errno;
            const std::string dir = directory_of(out.target);
            struct stat d;
            if ((err == ENOENT || err == ENOTDIR) && ::stat(dir.c_str(), &d) != 0)
                refuse(path, "its directory " + dir + " does not exist");
            if (err == ENOTDIR) refuse(path, dir + " is not a directory");
            refuse(path, std::string("cannot create a file in ") + dir + ": " + std::strerror(err));
        }
    }
    out.pending = true;
    pending_outputs[slot] = &out;
}

void write_output_file(OutputFile& out, const void* bytes, size_t n)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (n > 0) {
        const ssize_t w = ::write(out.fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) output_fatal(out.path, std::strerror(errno));
        if (w == 0) output_fatal(out.path, std::strerror(ENOSPC));
        p += w;
        n -= size_t(w);
    }
}

void commit_output_file(OutputFile& out)
{
    if (!out.pending) return;
    // Some file systems report a full disk only when the data reach it.
    if (out.temp[0] && ::fsync(out.fd) != 0 && errno != EINVAL) output_fatal(out.path, std::strerror(errno));
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0 && errno != EINTR) output_fatal(out.path, std::strerror(errno));
    if (out.temp[0] && ::rename(out.temp, out.target) != 0) output_fatal(out.path, std::strerror(errno));
    out.temp[0] = '\0';
    forget(out);
}

void abandon_output_file(OutputFile& out)
{
    if (out.fd >= 0) ::close(out.fd);
    out.fd = -1;
    if (out.temp[0]) ::unlink(out.temp);
    out.temp[0] = '\0';
    forget(out);
}

void output_fatal(const char* file, const char* cause)
{
    // The message may be held in one of the outputs themselves.
    const std::string f = file, c = cause;
    for (OutputFile* p : pending_outputs)
        if (p) abandon_output_file(*p);
    fatal(f.c_str(), c.c_str());
}
