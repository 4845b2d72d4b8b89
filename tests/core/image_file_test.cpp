#include "image_file.h"

#include "image_data.h"
#include "image_test_images.h"
#include "levels.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

using namespace korvi::test;

std::size_t FilesIn(const std::filesystem::path &folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(ImageFile, MissingFileOrFolderFailsWithoutAMessage)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    EXPECT_FALSE(LoadImageFile(dir.file("nothing.kvr"), image));
    EXPECT_FALSE(LoadImageFile(dir.path().string(), image));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(ImageFile, UnknownContentIsAnUnsupportedFormat)
{
    RecordingUiHooks ui;
    TempDir dir;
    for (const std::string &bytes : {std::string(), std::string("hello world\n"), std::string("\x89PN", 3),
                                     std::string("B"), std::string("korvi_image_file\n")}) {
        ui.Clear();
        WriteFileBytes(dir.file("x.dat"), bytes);
        ImageData image;
        EXPECT_FALSE(LoadImageFile(dir.file("x.dat"), image));
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].caption, "Korvi error message");
        EXPECT_EQ(ui.Messages()[0].text, "Unsupported image format.");
    }
}

TEST(ImageFile, OwnHeaderLineDecidesTheFormat)
{
    RecordingUiHooks ui;
    TempDir dir;
    // Starts like the own format; whatever follows, it is never tried as FITS, PNG or BMP.
    WriteFileBytes(dir.file("k.fits"), "KORVI_IMAGE_FILE\r\nSIMPLE  =                    T\n");
    ImageData image;
    EXPECT_FALSE(LoadImageFile(dir.file("k.fits"), image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("END_HEADER"), std::string::npos) << ui.Messages()[0].text;
}

TEST(ImageFile, LoadSetsLevelsStampFormatAndClearsSelectionAndCalibration)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData source;
    FillImage(source, 20, 10, 1, [](int x, int, int) { return std::uint16_t(1000 + 100 * x); });
    SetFrameHeader(source);
    ASSERT_TRUE(SaveImageFile(dir.file("a.png"), FormatPng, source));

    ImageData image;
    FillImage(image, 3, 3, 1, [](int, int, int) { return std::uint16_t(5); });
    image.DarkApplied = image.FlatApplied = true;
    image.SelX0 = image.SelY0 = 1;
    image.SelX1 = image.SelY1 = 2;
    image.OriginFormat = FormatNative;
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    ui.Clear();
    ASSERT_TRUE(LoadImageFile(dir.file("a.png"), image));
    EXPECT_FALSE(image.DarkApplied);
    EXPECT_FALSE(image.FlatApplied);
    EXPECT_EQ(image.SelX0 + image.SelY0 + image.SelX1 + image.SelY1, 0);
    EXPECT_EQ(image.OriginFormat, FormatPng);
    EXPECT_GE(image.TimeStamp, before);
    // Automatic levels as ComputeDisplayLevels gives them on the same pixels.
    ImageData expected;
    expected.Assign(image);
    expected.DisplayOffset = expected.Gain = -1.0f;
    ComputeDisplayLevels(expected);
    EXPECT_EQ(image.DisplayOffset, expected.DisplayOffset);
    EXPECT_EQ(image.Gain, expected.Gain);
    EXPECT_EQ(image.DisplayOffset, 1001.0f); // levels 1000 .. 2900 by 100, two columns out
    // The busy cursor is shown while the pixels are read.
    const auto events = ui.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front(), "busy");
    EXPECT_EQ(events.back(), "idle");
}

TEST(ImageFile, TimeStampsAreUniqueAndIncreasingWithinOneSecond)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData source;
    FillImage(source, 4, 4, 1, [](int x, int, int) { return std::uint16_t(x); });
    ASSERT_TRUE(SaveImageFile(dir.file("t.kvr"), FormatNative, source));
    std::uint32_t previous = 0;
    for (int i = 0; i < 5; ++i) {
        ImageData image;
        ASSERT_TRUE(LoadImageFile(dir.file("t.kvr"), image));
        EXPECT_GT(image.TimeStamp, previous);
        previous = image.TimeStamp;
    }
    EXPECT_GT(NextImageTimeStamp(), previous);
}

TEST(ImageFile, FailedLoadLeavesTheImageAsItWas)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData source;
    FillImage(source, 40, 40, 1, [](int x, int y, int) { return std::uint16_t(x + y); });
    ASSERT_TRUE(SaveImageFile(dir.file("c.fits"), FormatFits, source));
    const std::string bytes = ReadFileBytes(dir.file("c.fits"));
    WriteFileBytes(dir.file("c.fits"), bytes.substr(0, bytes.size() - 2000));

    ImageData image;
    FillImage(image, 2, 3, 1, [](int, int, int) { return std::uint16_t(9); });
    image.Description = "before";
    image.TimeStamp = 42;
    EXPECT_FALSE(LoadImageFile(dir.file("c.fits"), image));
    EXPECT_EQ(image.Width, 2);
    EXPECT_EQ(image.Height, 3);
    EXPECT_EQ(image.Rows[2][1], 9);
    EXPECT_EQ(image.Description, "before");
    EXPECT_EQ(image.TimeStamp, 42u);
}

// An image of the file's size lends its display buffer to the load: a read that fails after the
// allocation (here in the PNG's damaged pixel data) gives it back as it was, and a good read keeps
// it with every alpha byte 255.
TEST(ImageFile, LoadIntoAnImageOfTheSameSizeKeepsItsDisplayBuffer)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData source;
    FillImage(source, 40, 40, 1, [](int x, int y, int) { return std::uint16_t(1000 * x + y); });
    ASSERT_TRUE(SaveImageFile(dir.file("good.png"), FormatPng, source));
    std::string bytes = ReadFileBytes(dir.file("good.png"));
    for (std::size_t i = bytes.size() - 60; i < bytes.size() - 20; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    WriteFileBytes(dir.file("bad.png"), bytes);

    ImageData image;
    FillImage(image, 40, 40, 1, [](int, int, int) { return std::uint16_t(9); });
    image.Rgba[5] = 17; // a colour byte, as a render left it
    EXPECT_FALSE(LoadImageFile(dir.file("bad.png"), image));
    EXPECT_FALSE(image.Empty);
    ASSERT_EQ(image.Rgba.size(), 40u * 40u * 4u);
    EXPECT_EQ(image.Rgba[5], 17);
    EXPECT_EQ(image.Rgba[7], 255);
    EXPECT_EQ(image.Rows[39][39], 9);

    ASSERT_TRUE(LoadImageFile(dir.file("good.png"), image));
    ASSERT_EQ(image.Rgba.size(), 40u * 40u * 4u);
    for (std::size_t i = 3; i < image.Rgba.size(); i += 4)
        ASSERT_EQ(image.Rgba[i], 255) << i;
    EXPECT_EQ(image.Rows[39][39], 1000 * 39 + 39);
}

TEST(ImageFile, SaveDispatchesOnTheFormatCode)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 5, 5, 1, [](int x, int y, int) { return std::uint16_t(x * y); });
    SetFrameHeader(image);
    ASSERT_TRUE(SaveImageFile(dir.file("minus"), -1, image));
    EXPECT_EQ(ReadFileBytes(dir.file("minus")).substr(0, 17), "KORVI_IMAGE_FILE\n");
    ASSERT_TRUE(SaveImageFile(dir.file("one"), FormatFits, image));
    EXPECT_EQ(ReadFileBytes(dir.file("one")).substr(0, 6), "SIMPLE");
    ASSERT_TRUE(SaveImageFile(dir.file("three"), FormatPng, image));
    EXPECT_EQ(ReadFileBytes(dir.file("three")).substr(1, 3), "PNG");
    // The bitmap format saves a window's view, not an image record; unknown codes save nothing.
    EXPECT_FALSE(SaveImageFile(dir.file("two"), FormatBmp, image));
    EXPECT_FALSE(SaveImageFile(dir.file("seven"), 7, image));
    EXPECT_EQ(FilesIn(dir.path()), 3u);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(ImageFile, EmptyImagesAreNotSaved)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData empty;
    for (int format : {FormatNative, FormatFits, FormatPng})
        EXPECT_FALSE(SaveImageFile(dir.file("e" + std::to_string(format)), format, empty));
    EXPECT_EQ(FilesIn(dir.path()), 0u);
    EXPECT_EQ(ui.Messages().size(), 3u);
}

TEST(ImageFile, EveryFormatReportsAFailedSave)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 5, 5, 1, [](int x, int, int) { return std::uint16_t(x); });
    for (int format : {FormatNative, FormatFits, FormatPng}) {
        ui.Clear();
        EXPECT_FALSE(SaveImageFile(dir.file("gone/x"), format, image)) << format;
        EXPECT_EQ(ui.Messages().size(), 1u) << format;
    }
    EXPECT_EQ(FilesIn(dir.path()), 0u);
}

TEST(ReplacingFile, OnlyACommittedWriteReplacesTheTarget)
{
    TempDir dir;
    const std::string target = dir.file("keep.txt");
    WriteFileBytes(target, "old");
    {
        ReplacingFile file(target);
        ASSERT_NE(file.Open(), nullptr);
        file.Write("new contents", 12);
        EXPECT_NE(file.TemporaryPath(), target);
    } // abandoned
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
    {
        ReplacingFile file(target);
        ASSERT_NE(file.Open(), nullptr);
        file.Write("new", 3);
        file.MarkFailed();
        EXPECT_FALSE(file.Commit());
    }
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
    {
        ReplacingFile file(target);
        ASSERT_NE(file.Open(), nullptr);
        file.Write("new", 3);
        EXPECT_TRUE(file.Commit());
    }
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

// Runs `check` in a child process as the unprivileged user "nobody" (root may write any file, so
// what protection refuses can only be seen as a normal user) and gives its exit code: 0 when
// every check held, else the number of the first that failed. The folder is handed to that user.
// Without root (an ordinary user already) the check runs in this process.
int RunAsNormalUser(const std::filesystem::path &folder, const std::function<int()> &check)
{
    if (::geteuid() != 0)
        return check();
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return -1;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (::chown(entry.path().c_str(), uid, gid) != 0)
            return -2;
    if (::chown(folder.c_str(), uid, gid) != 0)
        return -2;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(100);
        ::_exit(check());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -3;
    return WEXITSTATUS(status);
}

mode_t ModeOf(const std::string &path)
{
    struct stat info {
    };
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A protected file (mode 444, as observers protect master frames) is refused by every image writer
// with the message of a file that cannot be written and stays as it was; a file that may be
// written is replaced by the new one with the permissions it had.
TEST(ReplacingFile, ProtectedFilesAreRefusedAndReplacedFilesKeepTheirMode)
{
    // The folder lies in the system's temporary folder, which every user can reach.
    char pattern[] = "/tmp/korvi-protected-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path folder(pattern);
    struct Cleanup {
        std::filesystem::path path;
        ~Cleanup() { std::filesystem::remove_all(path); }
    } cleanup{folder};
    ImageData image;
    FillImage(image, 6, 4, 1, [](int x, int y, int) { return std::uint16_t(100 * y + x); });
    const int formats[] = {FormatNative, FormatFits, FormatPng};
    for (int format : formats) {
        const std::string n = std::to_string(format);
        WriteFileBytes((folder / ("master" + n)).string(), "protected master " + n);
        WriteFileBytes((folder / ("shared" + n)).string(), "shared " + n);
        ::chmod((folder / ("master" + n)).c_str(), 0444);
        ::chmod((folder / ("shared" + n)).c_str(), 0640);
    }
    const int failed = RunAsNormalUser(folder, [&] {
        RecordingUiHooks ui;
        int check = 0;
        for (int format : formats) {
            const std::string n = std::to_string(format);
            const std::string master = (folder / ("master" + n)).string();
            ui.Clear();
            if (++check, SaveImageFile(master, format, image))
                return check;
            if (++check, ui.Messages().size() != 1 ||
                             ui.Messages()[0].text != std::string(CannotOpenForWriting) + "\n" + master)
                return check;
            if (++check, !SaveImageFile((folder / ("shared" + n)).string(), format, image))
                return check;
        }
        return 0;
    });
    if (failed < 0)
        GTEST_SKIP() << "cannot run as the user nobody here (" << failed << ")";
    EXPECT_EQ(failed, 0) << "check " << failed << " failed as a normal user";
    for (int format : formats) {
        const std::string n = std::to_string(format);
        EXPECT_EQ(ReadFileBytes((folder / ("master" + n)).string()), "protected master " + n);
        EXPECT_EQ(ModeOf((folder / ("master" + n)).string()), 0444u);
        const std::string shared = (folder / ("shared" + n)).string();
        EXPECT_EQ(ModeOf(shared), 0640u) << format;
        ImageData back;
        ASSERT_TRUE(LoadImageFile(shared, back)) << format;
        EXPECT_EQ(back.Rows[3][5], 305) << format;
    }
    EXPECT_EQ(FilesIn(folder), 6u); // nothing left beside them
}

// The temporary files of a save that was killed stay until the next save into their folder, which
// removes those of processes that no longer run (a killed save of a 16-megapixel frame leaves 32 MB).
TEST(ReplacingFile, LeftoversOfProcessesThatNoLongerRunAreRemoved)
{
    RecordingUiHooks ui;
    TempDir dir;
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const std::string dead = "frame_7.kvr.part-" + std::to_string(gone) + "-3";
    const std::string ours = "frame_8.kvr.part-" + std::to_string(::getpid()) + "-99"; // may be in use
    const std::string running = "frame_9.fit.part-1-0"; // process 1 always runs
    const char *const kept[] = {"notes.part-x-1", "frame.part-12", "frame_6.kvr"};
    const std::string recent = "frame_11.kvr.part-" + std::to_string(gone) + "-4"; // written just now
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(2);
    for (const std::string &name : {dead, ours, running, recent}) {
        WriteFileBytes(dir.file(name), std::string(1000, 'p'));
        if (name != recent)
            std::filesystem::last_write_time(dir.file(name), longAgo);
    }
    for (const char *name : kept)
        WriteFileBytes(dir.file(name), "keep");
    ImageData image;
    FillImage(image, 3, 3, 1, [](int x, int, int) { return std::uint16_t(x); });
    ASSERT_TRUE(SaveImageFile(dir.file("frame_10.kvr"), FormatNative, image));
    EXPECT_FALSE(std::filesystem::exists(dir.file(dead)));
    EXPECT_TRUE(std::filesystem::exists(dir.file(ours)));
    EXPECT_TRUE(std::filesystem::exists(dir.file(running)));
    EXPECT_TRUE(std::filesystem::exists(dir.file(recent)));
    for (const char *name : kept)
        EXPECT_EQ(ReadFileBytes(dir.file(name)), "keep") << name;
    EXPECT_EQ(FilesIn(dir.path()), 7u);
    // The same sweep, called at start for the frames folder.
    WriteFileBytes(dir.file(dead), "again");
    std::filesystem::last_write_time(dir.file(dead), longAgo);
    RemoveStaleTemporaryFiles(dir.path().string());
    EXPECT_FALSE(std::filesystem::exists(dir.file(dead)));
    EXPECT_EQ(FilesIn(dir.path()), 7u);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(ImageSize, PlausibleSizes)
{
    EXPECT_TRUE(PlausibleImageSize(4096, 4096, 1));
    EXPECT_TRUE(PlausibleImageSize(1, 1, 1));
    EXPECT_FALSE(PlausibleImageSize(0, 10, 1));
    EXPECT_FALSE(PlausibleImageSize(10, -1, 1));
    EXPECT_FALSE(PlausibleImageSize(10, 10, 0));
    EXPECT_FALSE(PlausibleImageSize(1 << 20, 1 << 20, 1));
    EXPECT_FALSE(PlausibleImageSize(16384, 16384, 2));
    EXPECT_FALSE(PlausibleImageSize(std::int64_t{1} << 40, 1, 1));
}

} // namespace
