#include "test_support.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "fieldneff-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests make files read-only or unreadable; give permissions back first. A
    // link is skipped: permissions() would follow it and change its target,
    // which may be a system file such as /dev/full.
    for (auto& e : std::filesystem::recursive_directory_iterator(path, ec))
        if (!e.is_symlink(ec))
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string le32(int32_t v)
{
    std::string s(4, '\0');
    auto u = uint32_t(v);
    for (int i = 0; i < 4; ++i) s[i] = char((u >> (8 * i)) & 0xff);
    return s;
}

std::string framed_with(int32_t leading, const std::string& payload, int32_t trailing)
{
    return le32(leading) + payload + le32(trailing);
}

std::string framed(const std::string& payload)
{
    return framed_with(int32_t(payload.size()), payload, int32_t(payload.size()));
}

std::string header_payload(int32_t w1, int32_t w2, int32_t w3, int32_t w4)
{
    return le32(w1) + le32(w2) + le32(w3) + le32(w4);
}

double unit_power(const std::vector<float>& v)
{
    // Found by halving and doubling, not by the exponent as neffmap finds it.
    double largest = 0, s = 1;
    for (float x : v) largest = std::max(largest, double(std::fabs(x)));
    if (largest == 0 || !std::isfinite(largest)) return 1;
    while (largest * s >= 1) s /= 2;
    while (largest * s < 0.5) s *= 2;
    return s;
}

std::vector<float> scaled(const std::vector<float>& v)
{
    const double s = unit_power(v);
    std::vector<float> out;
    for (float x : v) out.push_back(float(double(x) * s));
    return out;
}

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

float from_bits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

std::string floats_payload(const std::vector<float>& v)
{
    std::string s;
    for (float f : v) s += le32(int32_t(bits(f)));
    return s;
}

std::string pair_bytes(int32_t w1, int32_t w2, int32_t w3, const std::vector<float>& v)
{
    return framed(header_payload(w1, w2, w3, int32_t(v.size()))) + framed(floats_payload(v));
}

std::string field_bytes(const std::vector<std::vector<float>>& values, int32_t w2, int32_t w3)
{
    std::string s;
    for (size_t t = 0; t < values.size(); ++t) s += pair_bytes(int32_t(t + 1), w2, w3, values[t]);
    return s;
}

bool same_value(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

int64_t ulps_apart(float a, float b)
{
    // Floats ordered as integers: negative ones mirrored below zero.
    auto ordered = [](float f) {
        const int64_t b = int64_t(bits(f) & 0x7fffffffu);
        return bits(f) >> 31 ? -b : b;
    };
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

testing::AssertionResult same_series(const std::string& want, const std::string& got, int max_ulps)
{
    const ParsedSeries w = parse_series(want), g = parse_series(got);
    if (!w.ok || !g.ok) return testing::AssertionFailure() << "not a well-framed series";
    if (w.pairs.size() != g.pairs.size())
        return testing::AssertionFailure() << w.pairs.size() << " pairs wanted, " << g.pairs.size() << " found";
    for (size_t t = 0; t < w.pairs.size(); ++t) {
        const ParsedPair &a = w.pairs[t], &b = g.pairs[t];
        if (std::memcmp(a.w, b.w, sizeof a.w) != 0) return testing::AssertionFailure() << "header of pair " << t + 1;
        for (size_t p = 0; p < a.values.size(); ++p)
            if (!same_value(a.values[p], b.values[p]) &&
                (std::isnan(a.values[p]) || std::isnan(b.values[p]) || ulps_apart(a.values[p], b.values[p]) > max_ulps))
                return testing::AssertionFailure() << "pair " << t + 1 << " value " << p + 1 << ": " << bits(a.values[p])
                                                   << " wanted, " << bits(b.values[p]) << " found";
    }
    return testing::AssertionSuccess();
}

namespace {
bool take_record(const std::string& b, size_t& at, std::string& payload)
{
    if (b.size() - at < 4) return false;
    int32_t lead;
    std::memcpy(&lead, b.data() + at, 4);
    if (lead < 0 || b.size() - at - 4 < size_t(lead) + 4) return false;
    int32_t trail;
    std::memcpy(&trail, b.data() + at + 4 + lead, 4);
    if (trail != lead) return false;
    payload = b.substr(at + 4, size_t(lead));
    at += size_t(lead) + 8;
    return true;
}
} // namespace

ParsedSeries parse_series(const std::string& bytes)
{
    ParsedSeries s;
    size_t at = 0;
    while (at < bytes.size()) {
        std::string h, d;
        if (!take_record(bytes, at, h) || h.size() != 16 || !take_record(bytes, at, d)) return s;
        ParsedPair p;
        std::memcpy(p.w, h.data(), 16);
        if (p.w[3] < 0 || d.size() != size_t(p.w[3]) * 4) return s;
        p.values.resize(size_t(p.w[3]));
        if (!d.empty()) std::memcpy(p.values.data(), d.data(), d.size()); // an empty vector's data() may be null
        s.pairs.push_back(std::move(p));
    }
    s.ok = true;
    return s;
}

RunResult run_program(const std::string& exe, const std::string& input, const std::string& cwd,
                      const std::vector<std::string>& args, const RunOptions& options)
{
    TempDir io;
    const std::string in_path = io.file("stdin"), out_path = io.file("stdout"), err_path = io.file("stderr");
    write_file(in_path, input);
    // A build tree under /root is out of nobody's reach: an unprivileged run
    // starts a copy of the program from a directory it can enter.
    std::string program = exe;
    const bool drop = options.unprivileged && ::geteuid() == 0;
    if (drop) {
        program = io.file("program");
        std::filesystem::copy_file(exe, program);
        std::filesystem::permissions(io.path, std::filesystem::perms(0755));
        std::filesystem::permissions(program, std::filesystem::perms(0755));
    }
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = ::open(in_path.c_str(), O_RDONLY);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (int fd : {in, out, err})
            if (fd > 2) ::close(fd);
        if (options.file_size_limit >= 0) {
            const rlimit lim{rlim_t(options.file_size_limit), rlim_t(options.file_size_limit)};
            if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(127);
        }
        if (drop) {
            const gid_t nogroup = 65534;
            const uid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0) {
                std::fprintf(stderr, "cannot drop root privileges: %s\n", std::strerror(errno));
                ::_exit(UNPRIVILEGED_RUN_FAILED);
            }
        }
        if (::chdir(cwd.c_str()) != 0) ::_exit(127);
        for (int fd : options.closed_descriptors) ::close(fd);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    RunResult r;
    int st = 0;
    struct rusage use {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    for (;;) {
        const pid_t done = ::wait4(pid, &st, WNOHANG, &use);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            while (::wait4(pid, &st, 0, &use) < 0 && errno == EINTR) {
            }
            r.timed_out = true;
            break;
        }
        ::usleep(1000);
    }
    r.peak_rss_kib = use.ru_maxrss;
    if (WIFEXITED(st)) {
        r.status = WEXITSTATUS(st);
    } else {
        r.signalled = true;
        r.status = 128 + WTERMSIG(st);
    }
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

std::string writable_device(const TempDir& dir, const std::string& name)
{
    const std::string system = "/dev/" + name;
    if (::geteuid() != 0) return system;
    const unsigned minor = name == "null" ? 3 : name == "full" ? 7 : 0;
    if (minor == 0) throw std::runtime_error("no private node for " + name);
    const std::string own = dir.file(name);
    if (::mknod(own.c_str(), S_IFCHR | 0666, ::makedev(1, minor)) != 0)
        throw std::runtime_error("cannot make a private " + name + " device: " + std::strerror(errno));
    return own;
}

void make_netcdf(const TempDir& dir, const std::string& name, const std::string& cdl, const std::string& kind)
{
    write_file(dir.file(name + ".cdl"), cdl);
    std::vector<std::string> args;
    if (!kind.empty()) args = {"-k", kind};
    args.insert(args.end(), {"-o", name + ".nc", name + ".cdl"});
    const RunResult r = run_program(NCGEN_EXE, "", dir.path, args);
    ASSERT_EQ(r.status, 0) << r.err;
}
