#include "line_file.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>

using korvi::test::ReadFileBytes;
using korvi::test::RecordingUiHooks;
using korvi::test::TempDir;
using korvi::test::WriteFileBytes;

namespace
{

TEST(LineFileWriter, WritesEachKindOfValueLine)
{
    TempDir dir;
    const std::string path = dir.file("values.txt");
    LineFileWriter file;
    ASSERT_TRUE(file.Open(path, '.'));
    WriteTextLine(file, "  M 31 ");
    WriteTextLine(file, "two\r\nlines\nhere");
    WriteTextLine(file, "");
    WriteIntLine(file, 0);
    WriteIntLine(file, -123);
    WriteIntLine(file, 2147483647);
    WriteBoolLine(file, true);
    WriteBoolLine(file, false);
    WriteFloatLine(file, 0.0);
    WriteFloatLine(file, 1234.5);
    WriteFloatLine(file, -2.0e-7);
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadFileBytes(path), "  M 31 \ntwo  lines here\n\n0\n-123\n2147483647\ntrue\nfalse\n"
                                   "0.00000e+00\n1.23450e+03\n-2.00000e-07\n");
}

TEST(LineFileWriter, UsesTheUsersDecimalSeparator)
{
    TempDir dir;
    RecordingUiHooks comma(',');
    LineFileWriter file;
    ASSERT_TRUE(file.Open(dir.file("f.txt"))); // separator from the installed hooks
    WriteFloatLine(file, 0.25);
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadFileBytes(dir.file("f.txt")), "2,50000e-01\n");
}

TEST(LineFileWriter, AbandonedWriteLeavesTheOldFileAndNoTemporary)
{
    TempDir dir;
    const std::string path = dir.file("keep.txt");
    WriteFileBytes(path, "old contents\n");
    {
        LineFileWriter file;
        ASSERT_TRUE(file.Open(path, '.'));
        WriteTextLine(file, "new");
        // destroyed without Close()
    }
    EXPECT_EQ(ReadFileBytes(path), "old contents\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(LineFileWriter, ReportsAFolderThatDoesNotExist)
{
    TempDir dir;
    LineFileWriter file;
    EXPECT_FALSE(file.Open(dir.file("missing/f.txt"), '.'));
    EXPECT_FALSE(file.Error().empty());
    EXPECT_FALSE(file.Close());
}

TEST(LineFileWriter, FailedRenameKeepsTheTargetAndRemovesTheTemporary)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "target");
    std::filesystem::create_directory(dir.path() / "target" / "inside"); // a non-empty folder
    LineFileWriter file;
    ASSERT_TRUE(file.Open(dir.file("target"), '.'));
    WriteIntLine(file, 1);
    EXPECT_FALSE(file.Close());
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "target" / "inside"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A disk that fills up during the write: the file-size limit makes the writes fail.
TEST(LineFileWriter, WriteFailureLeavesTheOldFile)
{
    TempDir dir;
    const std::string path = dir.file("full.txt");
    WriteFileBytes(path, "precious\n");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    LineFileWriter file;
    bool opened = file.Open(path, '.');
    for (int i = 0; i < 100; ++i)
        WriteTextLine(file, "a line that is long enough to pass the limit quickly");
    const bool closed = file.Close();
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(closed);
    EXPECT_EQ(ReadFileBytes(path), "precious\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(LineFileWriter, KeepsThePermissionsOfTheFileItReplaces)
{
    TempDir dir;
    const std::string path = dir.file("private.txt");
    WriteFileBytes(path, "old\n");
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    LineFileWriter file;
    ASSERT_TRUE(file.Open(path, '.'));
    WriteTextLine(file, "new");
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadFileBytes(path), "new\n");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(LineFileWriter, WritesThroughASymbolicLink)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "shared");
    const std::string real = dir.file("shared/settings.txt");
    const std::string link = dir.file("settings.txt");
    WriteFileBytes(real, "old\n");
    std::filesystem::create_symlink(real, link);
    LineFileWriter file;
    ASSERT_TRUE(file.Open(link, '.'));
    WriteIntLine(file, 5);
    ASSERT_TRUE(file.Close());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(real), "5\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "shared"), {}), 1);
}

TEST(LineFileReader, ReadsEachKindAndTrims)
{
    TempDir dir;
    const std::string path = dir.file("in.txt");
    WriteFileBytes(path, "  text with blanks \t\r\n-42\r\n 1,50000e+00 \r\n2.5\n  true \n");
    LineFileReader file;
    ASSERT_TRUE(file.Open(path));
    std::string text;
    std::int32_t n = 0;
    float f = 0;
    double d = 0;
    bool flag = false;
    EXPECT_TRUE(ReadTextLine(file, text));
    EXPECT_EQ(text, "text with blanks");
    EXPECT_TRUE(ReadIntLine(file, n));
    EXPECT_EQ(n, -42);
    EXPECT_TRUE(ReadFloatLine(file, f));
    EXPECT_EQ(f, 1.5f);
    EXPECT_TRUE(ReadFloatLine(file, d));
    EXPECT_EQ(d, 2.5);
    EXPECT_TRUE(ReadBoolLine(file, flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(file.AtEnd());
    EXPECT_FALSE(file.HadProblem());
}

TEST(LineFileReader, FlagIsTrueOnlyForOneOrTrue)
{
    TempDir dir;
    const std::string path = dir.file("flags.txt");
    WriteFileBytes(path, " true \nTrue\nyes\n2\n1\nfalse\n0\n\n");
    const bool expected[] = {true, false, false, false, true, false, false, false};
    LineFileReader file;
    ASSERT_TRUE(file.Open(path));
    for (bool want : expected) {
        bool flag = !want;
        EXPECT_TRUE(ReadBoolLine(file, flag));
        EXPECT_EQ(flag, want) << "line " << file.LineNumber();
    }
}

TEST(LineFileReader, ReadsLongLinesWhole)
{
    TempDir dir;
    const std::string path = dir.file("long.txt");
    const std::string longText(5000, 'x');
    WriteFileBytes(path, longText + "\n7\n");
    LineFileReader file;
    ASSERT_TRUE(file.Open(path));
    std::string text;
    std::int32_t n = 0;
    EXPECT_TRUE(ReadTextLine(file, text));
    EXPECT_EQ(text, longText);
    EXPECT_TRUE(ReadIntLine(file, n)); // the next value is still on its own line
    EXPECT_EQ(n, 7);
}

TEST(LineFileReader, MalformedAndMissingLinesKeepTheValueAndAreNotedOnce)
{
    TempDir dir;
    const std::string path = dir.file("bad.txt");
    WriteFileBytes(path, "12\nabc\n3.5\nnot a float\n");
    LineFileReader file;
    ASSERT_TRUE(file.Open(path));
    std::int32_t a = -1, b = -1, c = -1;
    float f = -1;
    std::string text = "kept";
    EXPECT_TRUE(ReadIntLine(file, a));
    EXPECT_EQ(a, 12);
    EXPECT_FALSE(ReadIntLine(file, b));
    EXPECT_EQ(b, -1);
    EXPECT_EQ(file.Problem(), "line 2 holds \"abc\", not a whole number");
    EXPECT_FALSE(ReadIntLine(file, c)); // "3.5" is not an integer
    EXPECT_EQ(c, -1);
    EXPECT_FALSE(ReadFloatLine(file, f));
    EXPECT_EQ(f, -1.0f);
    EXPECT_FALSE(ReadTextLine(file, text)); // past the end
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(file.Problem(), "line 2 holds \"abc\", not a whole number"); // the first problem stays
}

TEST(LineFileReader, LastLineWithoutALineEnd)
{
    TempDir dir;
    const std::string path = dir.file("open_end.txt");
    WriteFileBytes(path, "x\r\n-5");
    LineFileReader file;
    ASSERT_TRUE(file.Open(path));
    std::string text;
    std::int32_t n = 0;
    EXPECT_TRUE(ReadTextLine(file, text));
    EXPECT_TRUE(ReadIntLine(file, n));
    EXPECT_EQ(n, -5);
    EXPECT_TRUE(file.AtEnd());
    EXPECT_FALSE(file.HadProblem());
}

TEST(LineFileReader, ReportsTheEndOfTheFile)
{
    TempDir dir;
    const std::string path = dir.file("short.txt");
    WriteFileBytes(path, "1\n");
    LineFileReader file;
    ASSERT_TRUE(file.Open(path));
    std::int32_t n = 0;
    bool flag = true;
    EXPECT_TRUE(ReadIntLine(file, n));
    EXPECT_FALSE(ReadBoolLine(file, flag));
    EXPECT_TRUE(flag);
    EXPECT_EQ(file.Problem(), "the file ends after line 1");
}

TEST(LineFileReader, MissingFileDoesNotOpen)
{
    TempDir dir;
    LineFileReader file;
    EXPECT_FALSE(file.Open(dir.file("none.txt")));
    EXPECT_TRUE(file.HadProblem());
    std::string text = "kept";
    EXPECT_FALSE(ReadTextLine(file, text));
    EXPECT_EQ(text, "kept");
}

TEST(LineFile, BinaryBlocksBetweenLines)
{
    TempDir dir;
    const std::string path = dir.file("mixed.dat");
    const unsigned char block[5] = {0, 10, 13, 255, 7};
    LineFileWriter out;
    ASSERT_TRUE(out.Open(path, '.'));
    WriteIntLine(out, 5);
    out.WriteBytes(block, sizeof block);
    WriteTextLine(out, "after");
    ASSERT_TRUE(out.Close());

    LineFileReader in;
    ASSERT_TRUE(in.Open(path));
    std::int32_t n = 0;
    unsigned char back[5] = {};
    std::string text;
    EXPECT_TRUE(ReadIntLine(in, n));
    EXPECT_TRUE(in.ReadBytes(back, n));
    EXPECT_EQ(std::memcmp(back, block, sizeof block), 0);
    EXPECT_TRUE(ReadTextLine(in, text));
    EXPECT_EQ(text, "after");
    EXPECT_FALSE(in.ReadBytes(back, 1));
}

} // namespace
