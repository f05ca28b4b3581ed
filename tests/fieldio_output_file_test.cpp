// Outputs written beside their name and renamed: what is left on disk after a
// success, a failure, and outputs that are links, devices or inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "test_support.hpp"

namespace {

// The names in dir, so that a temporary file left behind shows.
std::string listing(const TempDir& dir)
{
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) names += e.path().filename().string() + " ";
    return names;
}

void write_whole(const char* path, const std::string& bytes)
{
    static OutputFile out;
    begin_output_file(out, path);
    write_output_file(out, bytes.data(), bytes.size());
    commit_output_file(out);
}

} // namespace

TEST(FieldioOutputFile, CommitReplacesTheFileAndAbandonLeavesItAsItWas)
{
    TempDir dir;
    const std::string path = dir.file("out.png");
    write_file(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    static OutputFile out;
    begin_output_file(out, path.c_str());
    write_output_file(out, "new bytes", 9);
    EXPECT_EQ(read_file(path), "old") << "nothing reaches the output's name before the commit";
    abandon_output_file(out);
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(listing(dir), "out.png ") << "the temporary file is gone";

    write_whole(path.c_str(), "new bytes");
    EXPECT_EQ(read_file(path), "new bytes");
    EXPECT_EQ(listing(dir), "out.png ");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file keeps its permissions";

    write_whole(dir.file("fresh").c_str(), "");
    EXPECT_TRUE(file_exists(dir.file("fresh")));
}

TEST(FieldioOutputFile, LinksAreFollowedAndDevicesWrittenInPlace)
{
    TempDir dir;
    write_file(dir.file("real"), "old");
    std::filesystem::create_symlink("real", dir.file("link"));
    write_whole(dir.file("link").c_str(), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
    EXPECT_EQ(read_file(dir.file("real")), "through the link");

    const std::string null = writable_device(dir, "null");
    write_whole(null.c_str(), "discarded");
    struct stat st;
    ASSERT_EQ(::stat(null.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(FieldioOutputFile, FailuresNameTheCauseAndRemoveOnlyTheTemporaryFile)
{
    TempDir dir;
    const std::string full = writable_device(dir, "full");
    std::filesystem::create_symlink(full, dir.file("link"));
    EXPECT_EXIT(write_whole(dir.file("link").c_str(), "x"), testing::ExitedWithCode(2),
                "link: No space left on device");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link"))) << "a failed write removes no link";
    struct stat st;
    ASSERT_EQ(::stat(full.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    std::filesystem::create_directory(dir.file("sub"));
    EXPECT_EXIT(write_whole(dir.file("sub").c_str(), "x"), testing::ExitedWithCode(2), "sub: is a directory");
    EXPECT_EXIT(write_whole(dir.file("none/out").c_str(), "x"), testing::ExitedWithCode(2),
                "none/out: its directory .*/none does not exist");

    // A failure elsewhere while the output is pending takes its temporary file away.
    write_file(dir.file("kept"), "old");
    EXPECT_EXIT(
        {
            static OutputFile out;
            begin_output_file(out, dir.file("kept").c_str());
            write_output_file(out, "partial", 7);
            output_fatal("template.nc", "reading a coordinate: HDF error");
        },
        testing::ExitedWithCode(2), "template.nc: reading a coordinate: HDF error");
    EXPECT_EQ(read_file(dir.file("kept")), "old");
    EXPECT_EQ(listing(dir).find(".kept"), std::string::npos) << listing(dir);
}

TEST(FieldioOutputFile, AnOutputThatIsAnInputIsRefused)
{
    TempDir dir;
    write_file(dir.file("x.nc"), "precious");
    std::filesystem::create_hard_link(dir.file("x.nc"), dir.file("hard.nc"));
    std::filesystem::create_symlink("x.nc", dir.file("soft.nc"));
    write_file(dir.file("other"), "other");
    const std::string x = dir.file("x.nc");
    const char* inputs[] = {"absent", x.c_str()};
    for (const char* name : {"x.nc", "hard.nc", "soft.nc"})
        EXPECT_EXIT(refuse_output_over_inputs(dir.file(name).c_str(), inputs, 2), testing::ExitedWithCode(2),
                    "is the input .*x.nc itself")
            << name;
    EXPECT_EQ(read_file(dir.file("x.nc")), "precious");
    // Another file, and a name not yet there, pass.
    refuse_output_over_inputs(dir.file("other").c_str(), inputs, 2);
    refuse_output_over_inputs(dir.file("new").c_str(), inputs, 2);
}
