#include "run_frame.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every file a run opens; no program names more than five.
constexpr int MAX_OPEN_FILES = 8;
SeriesFile open_files[MAX_OPEN_FILES];
dev_t open_devices[MAX_OPEN_FILES];
ino_t open_inodes[MAX_OPEN_FILES];
std::unique_ptr<unsigned char[]> open_buffers[MAX_OPEN_FILES];
int open_count = 0;
bool in_fatal = false;

const char* program_name() { return program_invocation_short_name; }

void say(const char* text) { (void)!::write(2, text, std::strlen(text)); }

// Inputs are read through a mapping; if another process shortens such a file
// while it is read, touching the lost pages raises SIGBUS. Only async-signal-safe
// calls here: report the mapped inputs and leave with the fatal status.
void on_shortened_input(int)
{
    for (int i = 0; i < open_count; ++i) {
        if (!open_files[i].mapped) continue;
        say(program_name());
        say(": ");
        say(open_files[i].name);
        say(": file was shortened while being read\n");
    }
    ::_exit(FATAL_EXIT_STATUS);
}

} // namespace

void fatal(const char* file, const char* cause)
{
    if (!in_fatal) {
        in_fatal = true;
        // Records already written stay in their files: hand pending output over.
        for (int i = 0; i < open_count; ++i) {
            SeriesFile& f = open_files[i];
            if (f.writing && f.len > 0) {
                size_t done = 0;
                while (done < f.len) {
                    ssize_t n = ::write(f.fd, f.buf + done, f.len - done);
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) break;
                    done += size_t(n);
                }
                f.len = 0;
            }
        }
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", program_name(), file, cause);
    std::_Exit(FATAL_EXIT_STATUS);
}

void fatal_errno(const char* file, int err) { fatal(file, std::strerror(err)); }

void fatal(const RunError& e) { fatal(e.file.c_str(), e.cause.c_str()); }

void fatal_out_of_memory() { fatal("memory", "cannot reserve working storage"); }

namespace {

// With a standard descriptor closed, the next file opened would take its number:
// with stderr closed, a file of the run would receive the diagnostics. Each closed
// one of 0, 1, 2 is filled with /dev/null, in increasing order, since open takes
// the lowest free number. Where /dev/null cannot be opened the run goes on as is.
void fill_closed_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) (void)::open("/dev/null", O_RDWR);
}

// A diagnostic names what the user typed; a very long answer is shown by its start.
std::string shown_answer(const std::string& answer)
{
    constexpr size_t shown = 100;
    return answer.size() <= shown ? answer : answer.substr(0, shown) + "...";
}

} // namespace

std::string ask_file_name(const char* prompt, int width)
{
    // Every run starts with a question. From here on, a write refused by a file-size
    // limit or a closed pipe comes back as an error that the fatal path reports,
    // instead of a signal that would end the process without a word.
    fill_closed_standard_descriptors();
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    if (std::printf(" %s\n", prompt) < 0 || std::fflush(stdout) != 0) {
        // A console that cannot show the question still gets its answer read;
        // only the answer decides what the run does.
        std::clearerr(stdout);
    }
    // The whole line is kept up to a bound, so that a name cut at the width can be
    // told from one padded with blanks; past the bound only blanks are counted.
    constexpr size_t kept = 4096;
    std::string answer;
    bool beyond_bound = false;
    int c;
    bool any = false;
    while ((c = std::getchar()) != EOF && c != '\n') {
        any = true;
        if (answer.size() < kept) answer.push_back(char(c));
        else if (c != ' ') beyond_bound = true;
    }
    if (c == EOF && !any) {
        std::string cause = "ended before the answer to \"";
        cause += prompt;
        cause += "\"";
        fail("standard input", cause);
    }
    // Scripts written with Windows line ends send "name\r\n".
    if (!beyond_bound && !answer.empty() && answer.back() == '\r') answer.pop_back();
    while (!answer.empty() && answer.back() == ' ') answer.pop_back();
    if (beyond_bound || answer.size() > size_t(width)) {
        // Cutting the name would open a file the user never named.
        const std::string cause = "file name longer than " + std::to_string(width) + " characters";
        fail(shown_answer(answer), cause);
    }
    return answer;
}

namespace {

enum class Access { input, output };

SeriesFile& open_file(const std::string& name, Access access)
{
    // Diagnostics name the file as given; a name holding a NUL cannot be a path.
    if (name.find('\0') != std::string::npos) fail(name, "file name holds a NUL character");
    if (open_count == MAX_OPEN_FILES) fail(name, "too many files in one run");
    if (open_count == 0) {
        struct sigaction sa {};
        sa.sa_handler = on_shortened_input;
        ::sigaction(SIGBUS, &sa, nullptr);
    }

    // An input is never created and never opened for writing: a mistyped name is
    // an error rather than an empty series, and a pipe opened for reading alone
    // ends when its writer does. An output is opened for writing alone, so a pipe
    // whose reader has gone reports a failed write instead of waiting for ever.
    int write_errno = 0;
    int fd = -1;
    if (access == Access::input) {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } else {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0 && (errno == EACCES || errno == EROFS)) {
            // An existing file that may not be written: held open for what it is, so
            // that the refusal is reported only if the run comes to write to it.
            write_errno = errno;
            fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) fail_errno(name, write_errno);
        }
    }
    if (fd < 0) fail_errno(name, errno);

    struct stat st;
    if (::fstat(fd, &st) != 0) fail_errno(name, errno);
    if (S_ISDIR(st.st_mode)) fail_errno(name, EISDIR);
    for (int i = 0; i < open_count; ++i) {
        if (open_devices[i] == st.st_dev && open_inodes[i] == st.st_ino) {
            std::string cause = "is already open in this run as ";
            cause += open_files[i].name;
            fail(name, cause);
        }
    }

    if (!open_buffers[open_count]) {
        open_buffers[open_count].reset(new (std::nothrow) unsigned char[SERIES_BUFFER_BYTES]);
        if (!open_buffers[open_count]) fail(name, "cannot reserve a file buffer");
    }

    SeriesFile& f = open_files[open_count];
    f = SeriesFile{};
    f.fd = fd;
    std::snprintf(f.name, sizeof f.name, "%s", name.c_str());
    f.write_errno = write_errno;
    f.regular = S_ISREG(st.st_mode);
    f.buf = open_buffers[open_count].get();
    open_devices[open_count] = st.st_dev;
    open_inodes[open_count] = st.st_ino;
    ++open_count;
    return f;
}

} // namespace

SeriesFile& open_input(const std::string& name) { return open_file(name, Access::input); }

SeriesFile& open_output(const std::string& name) { return open_file(name, Access::output); }

void finish_run()
{
    for (int i = 0; i < open_count; ++i) {
        SeriesFile& f = open_files[i];
        flush_output(f);
        // Some file systems report a failed write only when the file is closed.
        if (f.output_started && ::close(f.fd) != 0) fail_errno(f.name, errno);
    }
    if (std::fflush(stdout) != 0) fail_errno("standard output", errno);
    std::exit(0);
}
