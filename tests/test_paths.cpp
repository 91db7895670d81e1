#include "base/paths.h"
#include "base/platform.h"
#include "extract/output_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

run_paths paths_of(const std::string& cue_path)
{
    run_paths paths{};
    EXPECT_TRUE(derive_paths(cue_path.c_str(), paths));
    return paths;
}

} // namespace

TEST(BaseName, SplitsAtColonBackslashAndSlash)
{
    EXPECT_STREQ(base_name("C:\\CD\\game.cue"), "game.cue");
    EXPECT_STREQ(base_name("C:game.cue"), "game.cue");
    EXPECT_STREQ(base_name("dir/sub\\x.cue"), "x.cue");
    EXPECT_STREQ(base_name("game.cue"), "game.cue");
    EXPECT_STREQ(base_name("dir/"), "");
    const char* path = "a/b";
    EXPECT_EQ(base_name(path), path + 2);   // a pointer into the same string
}

TEST(DerivePaths, KeepsLettersAndDigitsUpToTheFirstDot)
{
    const run_paths paths = paths_of("C:\\CDs\\My Game (Disc 1).cue");
    EXPECT_STREQ(paths.cue_dir, "C:\\CDs\\");
    EXPECT_STREQ(paths.out_name, "MyGameDisc1");
    EXPECT_STREQ(paths_of("disc.old.cue").out_name, "disc");
    EXPECT_STREQ(paths_of("a.b.c.cue").out_name, "a");
    EXPECT_STREQ(paths_of("disc").out_name, "disc");
    EXPECT_STREQ(paths_of("caf\xc3\xa9-2.cue").out_name, "caf2");
}

TEST(DerivePaths, StopsAfterTwentyFiveCharacters)
{
    EXPECT_STREQ(paths_of("abcdefghijklmnopqrstuvwxyz0123.cue").out_name, "abcdefghijklmnopqrstuvwxy");
    EXPECT_STREQ(paths_of("a-b-c-d-e-f-g-h-i-j-k-l-m-n-o-p-q-r-s-t-u-v-w-x-y-z.cue").out_name,
                 "abcdefghijklmnopqrstuvwxy");
}

TEST(DerivePaths, EmptyNameBecomesDisc)
{
    // Otherwise the outputs would land in cue_dir itself.
    EXPECT_STREQ(paths_of("dir/.hidden.cue").out_name, "disc");
    EXPECT_STREQ(paths_of("\xd0\x94\xd0\xb8\xd1\x81\xd0\xba.cue").out_name, "disc");
}

TEST(DerivePaths, NoDirectoryMeansEmptyPrefix)
{
    EXPECT_STREQ(paths_of("disc.cue").cue_dir, "");
    EXPECT_STREQ(paths_of("dir/disc.cue").cue_dir, "dir/");
}

TEST(DerivePaths, RefusesADirectoryThatLeavesNoRoomForOutputPaths)
{
    // The longest output path is cue_dir + 25 + 1 + 25 + ".toc": 55 bytes.
    run_paths paths{};
    EXPECT_TRUE(derive_paths((std::string(967, 'd') + "/x.cue").c_str(), paths));
    EXPECT_FALSE(derive_paths((std::string(968, 'd') + "/x.cue").c_str(), paths));
    // A long file name alone is fine: only 25 characters of it are used.
    EXPECT_TRUE(derive_paths((std::string(5000, 'n') + ".cue").c_str(), paths));
}

TEST(OutputPaths, JoinWithThePlatformSeparator)
{
    const run_paths paths = paths_of("dir/disc.cue");
    char buffer[path_capacity];
    const std::string sep(1, path_separator);
    ASSERT_TRUE(format_output_dir(paths, buffer));
    EXPECT_EQ(std::string(buffer), "dir/disc");
    ASSERT_TRUE(format_output_path(paths, toc_file_name(paths).c_str(), buffer));
    EXPECT_EQ(std::string(buffer), "dir/disc" + sep + "disc.toc");
    ASSERT_TRUE(format_output_path(paths, name_track_file(10, false).text, buffer));
    EXPECT_EQ(std::string(buffer), "dir/disc" + sep + "track10.iso");
    EXPECT_EQ(std::string(name_track_file(2, true).text), "track2.ogg");
}
