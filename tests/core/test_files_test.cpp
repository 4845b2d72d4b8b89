#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>

using korvi::test::TempDir;

TEST(TestSupport, TempDirIsFreshAndRemoved)
{
    std::filesystem::path kept;
    {
        TempDir dir;
        kept = dir.path();
        ASSERT_TRUE(std::filesystem::is_directory(kept));
        EXPECT_TRUE(std::filesystem::is_empty(kept));
        korvi::test::WriteFileBytes(dir.file("a.txt"), "one\r\ntwo\n");
        EXPECT_EQ(korvi::test::ReadFileBytes(dir.file("a.txt")), "one\r\ntwo\n");
        EXPECT_EQ(korvi::test::ReadLines(dir.file("a.txt")), (std::vector<std::string>{"one", "two"}));
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}
