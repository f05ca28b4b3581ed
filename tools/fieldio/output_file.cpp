#include "output_file.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "run_error.hpp"

namespace {

// The directory part of a path, "." when it has none.
std::string directory_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool write_all(int fd, const unsigned char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return false;
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// The temporary file, readable and writable as the target is (or as a new file
// would be), opened write-only. Its directory is made absolute, so that a library
// opening it by name never takes it for a URL.
void create_temporary(OutputFile& out, const std::string& dir, const struct stat* existing)
{
    char resolved[PATH_MAX];
    if (!::realpath(dir.c_str(), resolved)) {
        const int err = errno;
        if (err == ENOENT) fail(out.path, "its directory " + dir + " does not exist");
        if (err == ENOTDIR) fail(out.path, dir + " is not a directory");
        fail_errno(out.path, err);
    }
    // Hidden, and recognisably the output's; a long name falls back to a short one.
    const std::string base = base_of(out.target);
    std::string name = std::string(resolved) + (resolved[1] ? "/." : ".") + base + ".XXXXXX";
    if (base.size() + 8 > NAME_MAX) name = std::string(resolved) + (resolved[1] ? "/" : "") + ".fieldio.XXXXXX";
    std::vector<char> pattern(name.begin(), name.end());
    pattern.push_back('\0');
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) fail(out.path, std::string("cannot create a file in ") + dir + ": " + std::strerror(errno));
    out.fd = fd;
    out.temp = pattern.data();
    mode_t mode;
    if (existing) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode); // a failure leaves mkostemp's 0600, still the user's own file
}

std::string temporary_directory()
{
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

} // namespace

OutputFile::~OutputFile() { abandon_output_file(*this); }

FileIdentity output_identity(const std::string& path)
{
    FileIdentity id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        return id;
    }
    if (::stat(directory_of(path).c_str(), &st) == 0) {
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.name = base_of(path);
    }
    return id;
}

bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    if (a.exists != b.exists || (a.dev == 0 && a.ino == 0)) return false;
    return a.dev == b.dev && a.ino == b.ino && a.name == b.name;
}

void refuse_output_over_inputs(const std::string& out_path, const std::string* inputs, int count)
{
    struct stat o;
    if (::stat(out_path.c_str(), &o) != 0) return;
    for (int i = 0; i < count; ++i) {
        struct stat in;
        if (inputs[i].empty() || ::stat(inputs[i].c_str(), &in) != 0) continue;
        if (in.st_dev == o.st_dev && in.st_ino == o.st_ino)
            fail(out_path, "is the input " + inputs[i] +
                               " itself; writing it would destroy that input, so choose another output name");
    }
}

void refuse_same_output(const std::string& first, const std::string& second)
{
    if (same_file(output_identity(first), output_identity(second)))
        fail(second, "names the same file as the output " + first + "; each output needs a file of its own");
}

void begin_output_file(OutputFile& out, const std::string& path)
{
    abandon_output_file(out); // begun again before its commit: the first attempt is dropped
    out.path = out.target = path;
    if (path.empty()) fail("\"\"", "is an empty name; name a file to write");
    if (path.size() >= PATH_MAX || base_of(path).size() > NAME_MAX) fail_errno(path, ENAMETOOLONG);
    const std::string base = base_of(path);
    if (base.empty() || base == "." || base == "..") fail(path, "is a directory; name a file to write");

    struct stat st;
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) fail_errno(path, errno);
    if (exists && S_ISLNK(st.st_mode)) {
        if (::stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) fail(path, "is a symbolic link to a file that does not exist");
            fail_errno(path, errno);
        }
        // A regular file is replaced where it lies; anything else (/dev/stdout on
        // a pipe has no real path) is opened through the link below.
        if (S_ISREG(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path.c_str(), resolved)) fail_errno(path, errno);
            out.target = resolved;
        }
    }
    if (exists && S_ISDIR(st.st_mode)) fail(path, "is a directory; name a file to write");
    if (exists && !S_ISREG(st.st_mode)) {
        if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
            fail(path, "is neither a regular file, a FIFO nor a character device, so nothing is written to it");
        // A device or a pipe cannot be replaced: it is written as it is, at the commit.
        out.device_fd = ::open(out.target.c_str(), O_WRONLY | O_CLOEXEC);
        if (out.device_fd < 0) fail_errno(path, errno);
        out.device = true;
        create_temporary(out, temporary_directory(), nullptr);
    } else {
        // The temporary file would be renamed over a file the user may not write.
        if (exists && ::access(out.target.c_str(), W_OK) != 0) fail_errno(path, errno);
        create_temporary(out, directory_of(out.target), exists ? &st : nullptr);
    }
    out.pending = true;
}

void write_output_file(OutputFile& out, const void* bytes, size_t n)
{
    if (!write_all(out.fd, static_cast<const unsigned char*>(bytes), n)) fail_errno(out.path, errno);
}

void commit_output_files(OutputFile* const* outs, int count)
{
    // Some file systems report a full disk only when the data reach it.
    for (int i = 0; i < count; ++i) {
        OutputFile& out = *outs[i];
        if (out.pending && ::fsync(out.fd) != 0 && errno != EINVAL) fail_errno(out.path, errno);
    }
    // Devices first: a device that refuses its bytes stops the commit before any
    // file has taken its new name.
    std::vector<unsigned char> buffer;
    for (int i = 0; i < count; ++i) {
        OutputFile& out = *outs[i];
        if (!out.pending || !out.device) continue;
        buffer.resize(size_t{1} << 20);
        const int in = ::open(out.temp.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) fail_errno(out.path, errno);
        int err = 0;
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) err = errno;
            if (n > 0 && !write_all(out.device_fd, buffer.data(), size_t(n))) err = errno;
            if (n <= 0 || err) break;
        }
        ::close(in);
        if (err) fail_errno(out.path, err);
        const int fd = out.device_fd;
        out.device_fd = -1;
        if (::close(fd) != 0 && errno != EINTR) fail_errno(out.path, errno);
    }
    for (int i = 0; i < count; ++i) {
        OutputFile& out = *outs[i];
        if (!out.pending) continue;
        const int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0 && errno != EINTR) fail_errno(out.path, errno);
    }
    for (int i = 0; i < count; ++i) {
        OutputFile& out = *outs[i];
        if (!out.pending) continue;
        if (out.device) ::unlink(out.temp.c_str());
        else if (::rename(out.temp.c_str(), out.target.c_str()) != 0) fail_errno(out.path, errno);
        out.temp.clear();
        out.pending = false;
    }
}

void abandon_output_file(OutputFile& out)
{
    if (out.fd >= 0) ::close(out.fd);
    if (out.device_fd >= 0) ::close(out.device_fd);
    out.fd = out.device_fd = -1;
    if (!out.temp.empty()) ::unlink(out.temp.c_str());
    out.temp.clear();
    out.device = false;
    out.pending = false;
}
