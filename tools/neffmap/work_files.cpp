#include "work_files.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run_error.hpp"

namespace {

constexpr const char* STAGING_PREFIX = ".neffmap-staging-";
constexpr const char* OLD_PREFIX = ".neffmap-old-";

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::vector<std::string> entries_of(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    if (ec) fail(dir, ec.message());
    return names;
}

struct Identity {
    dev_t dev;
    ino_t ino;
    bool directory;
};

// Every file and directory in the tree under dir, dir itself included.
void identities_under(const std::string& dir, std::vector<Identity>& out)
{
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) out.push_back({st.st_dev, st.st_ino, true});
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (::lstat(it->path().c_str(), &st) == 0) out.push_back({st.st_dev, st.st_ino, S_ISDIR(st.st_mode) != 0});
}

bool lies_in(const std::vector<Identity>& tree, const struct stat& st, bool as_directory)
{
    for (const Identity& id : tree)
        if (id.dev == st.st_dev && id.ino == st.st_ino && (!as_directory || id.directory)) return true;
    return false;
}

std::string parent_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string tile_directory(const WorkDirectory& w, int64_t tile)
{
    char name[32];
    std::snprintf(name, sizeof name, "/tile-%05lld", static_cast<long long>(tile + 1));
    return w.staging + name;
}

void make_directory(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) fail_errno(path, errno);
}

} // namespace

WorkDirectory::~WorkDirectory()
{
    std::error_code ec;
    if (!staging.empty()) std::filesystem::remove_all(staging, ec);
    if (created && !committed) ::rmdir(dir.c_str()); // only if nothing else came into it
    if (fd >= 0) ::close(fd); // and with it the lock
}

void open_work_directory(WorkDirectory& w, const std::string& dir, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs)
{
    w.dir = dir;
    if (::mkdir(dir.c_str(), 0777) == 0) w.created = true;
    else if (errno != EEXIST) fail_errno(dir, errno);
    w.fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (w.fd < 0) fail_errno(dir, errno == ENOTDIR ? ENOTDIR : errno);
    // The lock goes with the process, however it ends.
    if (::flock(w.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) fail(dir, "is in use by another neffmap run (--work); wait for it or name another");
        fail_errno(dir, errno);
    }
    bool marked = false;
    std::vector<std::string> others;
    for (const std::string& name : entries_of(dir)) {
        if (starts_with(name, STAGING_PREFIX) || starts_with(name, OLD_PREFIX)) {
            std::error_code ec;
            std::filesystem::remove_all(dir + "/" + name, ec); // from a run that was killed
        } else if (name == WORK_MARKER) {
            marked = true;
        } else {
            others.push_back(name);
        }
    }
    if (!marked && !others.empty())
        fail(dir, "is not empty and no earlier neffmap --work made it (it holds " + others.front() +
                      " and no " + WORK_MARKER + "); name a new or empty directory");

    std::vector<Identity> tree;
    identities_under(dir, tree);
    for (const std::string& in : inputs) {
        struct stat st;
        if (!in.empty() && ::stat(in.c_str(), &st) == 0 && lies_in(tree, st, false))
            fail(in, "lies inside the --work directory " + dir + ", whose contents a run replaces; "
                     "keep inputs elsewhere");
    }
    for (const std::string& out : outputs) {
        struct stat st;
        if (out.empty()) continue;
        if ((::stat(out.c_str(), &st) == 0 && lies_in(tree, st, false)) ||
            (::stat(parent_of(out).c_str(), &st) == 0 && lies_in(tree, st, true)))
            fail(out, "lies inside the --work directory " + dir + ", whose contents a run replaces; "
                      "write it elsewhere");
    }

    std::string pattern = dir + "/" + STAGING_PREFIX + "XXXXXX";
    if (!::mkdtemp(pattern.data())) fail_errno(dir, errno);
    w.staging = pattern;
    const int marker = ::open((w.staging + "/" + WORK_MARKER).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (marker < 0) fail_errno(w.staging + "/" + WORK_MARKER, errno);
    const char text[] = "neffmap --work directory: a run replaces everything in it\n";
    const bool written = ::write(marker, text, sizeof text - 1) == ssize_t(sizeof text - 1);
    ::close(marker);
    if (!written) fail(w.staging + "/" + WORK_MARKER, "cannot write the marker");
}

void write_series_work_files(const WorkDirectory& w, const std::vector<float>& series, const SeriesChain& chain)
{
    const auto steps = int32_t(series.size());
    RecordOutput out;
    open_work_record_output(out, w.staging + "/series.dat");
    for (int32_t t = 0; t < steps; ++t) write_pair(out, RecordHeader{t + 1, 1, 1, 1}, &series[size_t(t)]);
    close_record_output(out);
    open_work_record_output(out, w.staging + "/series.aut");
    for (int32_t j = 1; j < steps; ++j) write_pair(out, RecordHeader{j, 1, 1, 1}, &chain.aut[size_t(j - 1)]);
    close_record_output(out);
    make_directory(w.staging + "/series-lags");
    open_work_record_output(out, w.staging + "/series-lags/critic-lags");
    write_pair(out, RecordHeader{steps - 1, 1, 1, 1}, &chain.critical_lag);
    close_record_output(out);
}

void write_tile_field_file(const WorkDirectory& w, TileWorkFiles& files, int64_t tile, const PointTile& extent,
                           const TileMatrix& m)
{
    const std::string dir = tile_directory(w, tile);
    make_directory(dir);
    files.row.resize(MAX_POINTS);
    open_work_record_output(files.out, dir + "/field.dat");
    for (int32_t t = 0; t < m.xs.count; ++t) {
        gather_step(m.xs, t, extent.points, files.row.data());
        write_pair(files.out, RecordHeader{t + 1, int32_t(extent.columns), int32_t(extent.lines), extent.points},
                   files.row.data());
    }
    close_record_output(files.out);
}

void write_tile_result_files(const WorkDirectory& w, TileWorkFiles& files, int64_t tile, const PointTile& extent,
                             const TileMatrix& m, const float* critical_lag, const float* neff)
{
    const std::string dir = tile_directory(w, tile);
    const int32_t lags = m.xs.count - 1;
    RecordHeader h{0, int32_t(extent.columns), int32_t(extent.lines), extent.points};
    open_work_record_output(files.out, dir + "/field.aut");
    for (int32_t j = 1; j <= lags; ++j) {
        gather_step(m.xs, j - 1, extent.points, files.row.data());
        h.w1 = j;
        write_pair(files.out, h, files.row.data());
    }
    close_record_output(files.out);
    // sigcut copies its input's last header; nstar tags that one.
    h.w1 = lags;
    open_work_record_output(files.out, dir + "/critic-lags");
    write_pair(files.out, h, critical_lag);
    close_record_output(files.out);
    h.w1 = NEFF_RECORD_TAG;
    open_work_record_output(files.out, dir + "/neff.dat");
    write_pair(files.out, h, neff);
    close_record_output(files.out);
}

void commit_work_directory(WorkDirectory& w)
{
    // The earlier run's files go aside, the staged ones up, and what went aside
    // is removed.
    std::string pattern = w.dir + "/" + OLD_PREFIX + "XXXXXX";
    if (!::mkdtemp(pattern.data())) fail_errno(w.dir, errno);
    const std::string old = pattern;
    const std::string staging_name = w.staging.substr(w.staging.rfind('/') + 1);
    const std::string old_name = old.substr(old.rfind('/') + 1);
    for (const std::string& name : entries_of(w.dir))
        if (name != staging_name && name != old_name && ::renameat(w.fd, name.c_str(), w.fd, (old_name + "/" + name).c_str()) != 0)
            fail_errno(w.dir + "/" + name, errno);
    for (const std::string& name : entries_of(w.staging))
        if (::renameat(w.fd, (staging_name + "/" + name).c_str(), w.fd, name.c_str()) != 0)
            fail_errno(w.dir + "/" + name, errno);
    std::error_code ec;
    std::filesystem::remove_all(old, ec);
    std::filesystem::remove_all(w.staging, ec);
    w.staging.clear();
    w.committed = true;
}
