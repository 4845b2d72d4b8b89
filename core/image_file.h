#pragma once
// Loading and saving images in every format the program knows, chosen by number:
// 0 own format (kvr), 1 FITS, 2 Windows bitmap (read only here: saving a bitmap stores the
// displayed view, which the image window does), 3 PNG. Also the pieces the format readers and
// writers share: the size guard, whole-file reading and the replace-on-success file writer.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class ImageData;

enum ImageFileFormat : int { NativeFormat = 0, FitsFormat = 1, BitmapFormat = 2, PngFormat = 3 };

// Captions of the boxes the file routines show.
inline constexpr const char *KorviCaption = "Korvi";
inline constexpr const char *KorviErrorCaption = "Korvi error message";

// What the format detection learns of a file before any pixel is read.
struct ImageFileInfo {
    int Format = -1;
    int Width = 0;
    int Height = 0;
    int Frames = 1;
};

// No image may hold more pixels than this (all frames together); larger sizes in a header are
// taken as damage rather than allocated.
inline constexpr std::int64_t MaxImagePixels = std::int64_t{1} << 28;
// True when the sizes are positive and their product stays within MaxImagePixels.
bool PlausibleImageSize(std::int64_t width, std::int64_t height, std::int64_t frames);

// Recognises the format (own header line, FITS, PNG signature, "BM") and reads the size.
// Returns false without a message when the file does not exist, and with one when it exists
// but cannot be read as an image.
bool ProbeImageFile(const std::string &path, ImageFileInfo &info);

// Reads the file into image (replacing what it held only when the whole read succeeds), sets
// automatic display levels, a fresh time stamp, the origin format and clears the selection and
// the calibration flags. Returns false, leaving image untouched, when the file cannot be read.
bool LoadImageFile(const std::string &path, ImageData &image);

// Writes the image in the format of the code (0 or less own format, 1 FITS, 3 PNG). Codes 2 and
// above 3 write nothing and return false. A failed write shows a message, leaves an existing file
// as it was and returns false.
bool SaveImageFile(const std::string &path, int format, const ImageData &image);

// Time stamps that identify image windows: the current time in seconds, but always greater than
// every stamp given before, so images loaded within one second still get distinct stamps.
std::uint32_t NextImageTimeStamp();

// The smallest and largest of count pixel values (65535 and 0 for none): the measured Dimmest and
// Brightest of a freshly read image.
void MeasureExtremes(const std::uint16_t *pixels, std::size_t count, std::int32_t &dimmest,
                     std::int32_t &brightest);
// Turns count stored signed 16-bit values (as a FITS file of unsigned pixels holds them, before its
// BZERO of 32768) into the unsigned pixels, in place, and measures their extremes as MeasureExtremes
// does, in the same pass.
void AddSignOffset(std::uint16_t *pixels, std::size_t count, std::int32_t &dimmest, std::int32_t &brightest);

// A file written under a temporary name (target + ".part-<process id>-<n>") beside its target and
// renamed onto the target by Commit(), so a failed or abandoned write never damages an existing
// file and never leaves a partial one behind. A target its owner has protected against writing is
// refused as a folder that cannot be written is; a replaced target keeps its permissions.
// Temporary files that killed processes left in the target's folder are removed first.
class ReplacingFile
{
public:
    explicit ReplacingFile(const std::string &target);
    ~ReplacingFile(); // removes the temporary file unless committed
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // The temporary name, for writers that open the file themselves (CFITSIO).
    const std::string &TemporaryPath() const { return temporary_; }
    const std::string &Target() const { return target_; }
    // Opens the temporary file for binary writing; nullptr when it cannot be created or the target
    // exists and may not be written.
    std::FILE *Open();
    // The checks of Open() for writers that create the temporary file themselves (CFITSIO): true
    // when the target may be replaced and the temporary file can be made; leaves no file behind.
    bool Reserve();
    // Writes bytes to the file opened by Open(); a failure is remembered for Commit().
    bool Write(const void *data, std::size_t size);
    void MarkFailed() { failed_ = true; }
    bool Failed() const { return failed_; }
    // Closes the file opened by Open() (if any) and, when nothing failed, renames the temporary
    // file onto the target. True when the target now holds the complete new file.
    bool Commit();

private:
    std::string target_;
    std::string temporary_;
    std::FILE *file_ = nullptr;
    bool failed_ = false;
    bool committed_ = false;
};

// Removes the temporary files of ReplacingFile ("<name>.part-<process id>-<n>") in the folder whose
// process no longer runs and that have not changed for ten minutes: what a killed or crashed save
// left. Files of running processes, and files still being written (perhaps by another computer
// sharing the folder), stay.
void RemoveStaleTemporaryFiles(const std::string &folder);

// Message shown when a file cannot be created for writing.
inline constexpr const char *CannotOpenForWriting = "Could not open file to write (check that path exists).";
// Shows CannotOpenForWriting followed by the path on a line of its own in a "Korvi" box.
void ReportCannotOpenForWriting(const std::string &path);
// Shows "Could not write file: <path>" (disk full, device gone ...) in a "Korvi" box.
void ReportWriteFailure(const std::string &path);
