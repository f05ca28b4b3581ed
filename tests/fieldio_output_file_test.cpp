// Outputs written beside their name and renamed: what is left on disk after a
// success, a failure, and outputs that are links, devices or inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "run_error.hpp"
#include "test_support.hpp"

namespace {

// The names in dir, so that a temporary file left behind shows.
std::string listing(const TempDir& dir)
{
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) names += e.path().filename().string() + " ";
    return names;
}

void write_whole(const std::string& path, const std::string& bytes)
{
    OutputFile out;
    begin_output_file(out, path);
    write_output_file(out, bytes.data(), bytes.size());
    commit_output_file(out);
}

// The error a call throws, or a RunError saying there was none.
template <typename F>
RunError error_of(F f)
{
    try {
        f();
    } catch (const RunError& e) {
        return e;
    }
    return RunError{"(no error)", ""};
}

} // namespace

TEST(FieldioOutputFile, CommitReplacesTheFileAndAbandonLeavesItAsItWas)
{
    TempDir dir;
    const std::string path = dir.file("out.png");
    write_file(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    {
        OutputFile out;
        begin_output_file(out, path);
        write_output_file(out, "new bytes", 9);
        EXPECT_EQ(read_file(path), "old") << "nothing reaches the output's name before the commit";
        EXPECT_NE(listing(dir), "out.png ") << "the temporary file lies beside it";
    }
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(listing(dir), "out.png ") << "an output never committed takes its temporary file with it";

    write_whole(path, "new bytes");
    EXPECT_EQ(read_file(path), "new bytes");
    EXPECT_EQ(listing(dir), "out.png ");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file keeps its permissions";

    write_whole(dir.file("fresh"), "");
    EXPECT_TRUE(file_exists(dir.file("fresh")));
}

TEST(FieldioOutputFile, LinksAreFollowedAndDevicesWrittenInPlace)
{
    TempDir dir;
    write_file(dir.file("real"), "old");
    std::filesystem::create_symlink("real", dir.file("link"));
    write_whole(dir.file("link"), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
    EXPECT_EQ(read_file(dir.file("real")), "through the link");

    const std::string null = writable_device(dir, "null");
    write_whole(null, "discarded");
    struct stat st;
    ASSERT_EQ(::stat(null.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(FieldioOutputFile, FailuresNameTheCauseAndRemoveOnlyTheTemporaryFile)
{
    TempDir dir;
    const std::string full = writable_device(dir, "full");
    std::filesystem::create_symlink(full, dir.file("link"));
    RunError e = error_of([&] { write_whole(dir.file("link"), "x"); });
    EXPECT_EQ(e.file, dir.file("link"));
    EXPECT_EQ(e.cause, "No space left on device");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link"))) << "a failed write removes no link";
    struct stat st;
    ASSERT_EQ(::stat(full.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    std::filesystem::create_directory(dir.file("sub"));
    const struct {
        std::string path, cause;
    } refused[] = {
        {dir.file("sub"), "is a directory; name a file to write"},
        {dir.file("none/out"), "its directory " + dir.file("none") + " does not exist"},
        {dir.file(std::string(256, 'n')), "File name too long"},
        {"", "is an empty name; name a file to write"},
    };
    for (const auto& r : refused) {
        OutputFile out;
        e = error_of([&] { begin_output_file(out, r.path); });
        EXPECT_EQ(e.cause, r.cause) << r.path;
    }

    // A failure elsewhere while the output is pending takes its temporary file away.
    write_file(dir.file("kept"), "old");
    e = error_of([&] {
        OutputFile out;
        begin_output_file(out, dir.file("kept"));
        write_output_file(out, "partial", 7);
        fail("template.nc", "reading a coordinate: HDF error");
    });
    EXPECT_EQ(e.file, "template.nc");
    EXPECT_EQ(read_file(dir.file("kept")), "old");

    // Outputs committed together: a device that refuses its bytes stops the
    // commit before the other output takes its name.
    e = error_of([&] {
        OutputFile map, picture;
        begin_output_file(map, dir.file("kept"));
        write_output_file(map, "new", 3);
        begin_output_file(picture, dir.file("link"));
        write_output_file(picture, "png", 3);
        OutputFile* both[] = {&map, &picture};
        commit_output_files(both, 2);
    });
    EXPECT_EQ(e.file, dir.file("link"));
    EXPECT_EQ(read_file(dir.file("kept")), "old");
    EXPECT_EQ(listing(dir).find(".kept"), std::string::npos) << listing(dir);
}

TEST(FieldioOutputFile, AnOutputThatIsAnInputOrAnotherOutputIsRefused)
{
    TempDir dir;
    write_file(dir.file("x.nc"), "precious");
    std::filesystem::create_hard_link(dir.file("x.nc"), dir.file("hard.nc"));
    std::filesystem::create_symlink("x.nc", dir.file("soft.nc"));
    write_file(dir.file("other"), "other");
    const std::string inputs[] = {"absent", dir.file("x.nc")};
    for (const char* name : {"x.nc", "hard.nc", "soft.nc"}) {
        const RunError e = error_of([&] { refuse_output_over_inputs(dir.file(name), inputs, 2); });
        EXPECT_EQ(e.file, dir.file(name));
        EXPECT_NE(e.cause.find("is the input " + dir.file("x.nc") + " itself"), std::string::npos) << e.cause;
    }
    EXPECT_EQ(read_file(dir.file("x.nc")), "precious");
    // Another file, and a name not yet there, pass.
    EXPECT_EQ(error_of([&] { refuse_output_over_inputs(dir.file("other"), inputs, 2); }).file, "(no error)");
    EXPECT_EQ(error_of([&] { refuse_output_over_inputs(dir.file("new"), inputs, 2); }).file, "(no error)");

    // Two outputs: the same file by any name, existing or not yet there.
    std::filesystem::create_directory(dir.file("sub"));
    const std::string same[][2] = {{dir.file("x.nc"), dir.file("hard.nc")},
                                   {dir.file("new.nc"), dir.file("sub/../new.nc")},
                                   {dir.file("soft.nc"), dir.file("x.nc")}};
    for (const auto& pair : same)
        EXPECT_EQ(error_of([&] { refuse_same_output(pair[0], pair[1]); }).file, pair[1]) << pair[0];
    EXPECT_EQ(error_of([&] { refuse_same_output(dir.file("new.nc"), dir.file("new.png")); }).file, "(no error)");
    EXPECT_EQ(error_of([&] { refuse_same_output(dir.file("new.nc"), dir.file("sub/new.nc")); }).file, "(no error)");
}
