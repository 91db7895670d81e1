#include "base/paths.h"
#include "base/platform.h"
#include "extract/audio_codecs.h"
#include "output/output_names.h"

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

// A path on POSIX splits at '/' alone: "Zelda: Ocarina.cue" is one name. A
// name a sheet gives splits wherever any system would split it.
TEST(BaseName, SplitsAtSlashAndAnyNameAtColonBackslashAndSlash)
{
    EXPECT_STREQ(base_name("C:\\CD\\game.cue"), "C:\\CD\\game.cue");
    EXPECT_STREQ(base_name("cds/Zelda: Ocarina.cue"), "Zelda: Ocarina.cue");
    EXPECT_STREQ(base_name_anywhere("C:\\CD\\game.cue"), "game.cue");
    EXPECT_STREQ(base_name_anywhere("C:game.cue"), "game.cue");
    EXPECT_STREQ(base_name_anywhere("dir/sub\\x.cue"), "x.cue");
    EXPECT_STREQ(base_name("game.cue"), "game.cue");
    EXPECT_STREQ(base_name("dir/"), "");
    const char* path = "a/b";
    EXPECT_EQ(base_name(path), path + 2);   // a pointer into the same string
}

TEST(DerivePaths, KeepsLettersAndDigitsUpToTheFirstDot)
{
    const run_paths paths = paths_of("CDs/My Game (Disc 1).cue");
    EXPECT_STREQ(paths.cue_dir, "CDs/");
    EXPECT_STREQ(paths.out_name, "MyGameDisc1");
    EXPECT_STREQ(paths_of("Zelda: Ocarina.cue").out_name, "ZeldaOcarina");
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
    const track_format format = default_track_format();
    const std::string sep(1, path_separator);
    EXPECT_EQ(output_dir_path(paths), "dir/disc");
    EXPECT_EQ(output_path(paths, toc_file_name(paths)), "dir/disc" + sep + "disc.toc");
    EXPECT_EQ(output_path(paths, name_track_file(10, false, format).text), "dir/disc" + sep + "track10.iso");
    EXPECT_EQ(std::string(name_track_file(2, true, format).text), "track2.ogg");
}

TEST(FullNames, KeepTheWholeNameButWhatNoFileNameHolds)
{
    const std::string accent = "\xc3\xa9";   // two bytes of UTF-8
    const struct {
        std::string name, kept;
    } rows[] = {
        {"Legend of Dragoon, The (USA) (Disc 1)", "Legend of Dragoon, The (USA) (Disc 1)"},
        {"a<b>c:d\"e/f\\g|h?i*j", "a_b_c_d_e_f_g_h_i_j"},
        {"tab\there\x01\x1f\x7f!", "tab_here___!"},
        {"ends in a dot.", "ends in a dot_"},
        {"ends in a dot and spaces. .", "ends in a dot and spaces___"},
        {"..", "__"},
        {"", "disc"},
        {std::string(300, 'n'), std::string(200, 'n')},
        {std::string(199, 'n') + accent + "x", std::string(199, 'n')},   // not half a character
        {std::string(199, 'n') + ".x", std::string(199, 'n') + "_"},    // the cut leaves a trailing dot
        {"caf" + accent, "caf" + accent},
    };
    for (const auto& row : rows)
        EXPECT_EQ(clean_output_name(row.name, true), row.kept) << row.name;
    run_paths paths{};
    ASSERT_TRUE(derive_paths("cds/Game v1.1 (Disc 1).cue", paths, output_naming{nullptr, true}));
    EXPECT_STREQ(paths.out_name, "Game v1.1 (Disc 1)");
    EXPECT_STREQ(paths.out_parent, "cds/");
}

TEST(OutputFolderElsewhere, MadeInTheGivenFolderWhileTheBinsStayBesideTheSheet)
{
    run_paths paths{};
    for (const char* output_dir : {"out", "out/"}) {
        ASSERT_TRUE(derive_paths("cds/disc.cue", paths, output_naming{output_dir, false}));
        EXPECT_STREQ(paths.cue_dir, "cds/");
        EXPECT_EQ(output_dir_path(paths), "out/disc");
    }
    // "<DIR>/<name>/<name>.toc" must fit, with the longer of a 25-letter name and this one.
    const std::string name(200, 'n');
    EXPECT_TRUE(derive_paths((name + ".cue").c_str(), paths, output_naming{std::string(617, 'd').c_str(), true}));
    EXPECT_FALSE(derive_paths((name + ".cue").c_str(), paths, output_naming{std::string(618, 'd').c_str(), true}));
    EXPECT_FALSE(derive_paths("x.cue", paths, output_naming{std::string(968, 'd').c_str(), false}));
}

TEST(DiscPart, TellsTheDiscsOfASet)
{
    const struct {
        std::string name;
        int number;   // 0: no disc part
        std::string set_name;
    } rows[] = {
        {"Game (Disc 2)", 2, "Game"},           {"Game (USA) (Disc 3)", 3, "Game (USA)"},
        {"Game (Disc 1) (USA)", 1, "Game (USA)"}, {"Game - CD 2", 2, "Game"},
        {"Game disc12", 12, "Game"},            {"Discworld", 0, ""},
        {"Game (Disc A)", 0, ""},               {"ABCD 1", 0, ""},
        {"disc001", 0, ""},
    };
    for (const auto& row : rows) {
        const disc_in_set disc = find_disc_part(row.name);
        EXPECT_EQ(disc.found ? disc.number : 0, row.number) << row.name;
        EXPECT_EQ(disc.set_name, row.set_name) << row.name;
    }
}
