#pragma once
// Line-per-value text files: one value a line in an order the file's owner defines, no keys.
//   text  : the text (line breaks replaced by blanks, so a value can never shift later lines)
//   int   : decimal digits, '-' when negative
//   flag  : "true" / "false"; read true only for "1" or "true"
//   float : picture "0.00000e+00" with the user's decimal separator
// Lines end in "\n"; readers also take "\r\n" and accept '.' and ',' in numbers. Lines of any
// length are read whole.
//
// A writer writes to a temporary file beside the target and renames it over the target only when
// every write and the close succeeded, so a failed write leaves an existing file untouched. The new
// file keeps the permissions of the one it replaces, and a symbolic link keeps naming it.
// A reader never throws: each Read* returns false when the line is missing or does not convert,
// leaves the caller's value unchanged and notes the first problem, so an owner can read on and
// report once.
#include "file_names.h"
#include "text_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class LineFileWriter
{
public:
    LineFileWriter() = default;
    ~LineFileWriter(); // discards the temporary file unless Close() succeeded
    LineFileWriter(const LineFileWriter &) = delete;
    LineFileWriter &operator=(const LineFileWriter &) = delete;

    // Opens a temporary file beside path; false (with Error()) when it cannot be created.
    bool Open(const std::string &path, char decimalSeparator);
    bool Open(const std::string &path); // with UserDecimalSeparator()
    // Flushes, closes and renames onto the target; true when the whole file was written.
    bool Close();
    bool IsOpen() const { return file_ != nullptr; }
    bool Good() const { return file_ != nullptr && !failed_; }
    char DecimalSeparator() const { return separator_; }
    const std::string &Path() const { return path_; }
    const std::string &Error() const { return error_; }

    void WriteRaw(std::string_view bytes);               // bytes as they are
    void WriteBytes(const void *data, std::size_t size); // binary blocks inside mixed files

private:
    std::FILE *file_ = nullptr;
    std::string path_, target_, tempPath_, error_; // target_: path_ with symbolic links resolved
    char separator_ = '.';
    bool failed_ = false;
};

class LineFileReader
{
public:
    LineFileReader() = default;
    ~LineFileReader();
    LineFileReader(const LineFileReader &) = delete;
    LineFileReader &operator=(const LineFileReader &) = delete;

    // False (with Problem()) when the file cannot be opened.
    bool Open(const std::string &path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    bool AtEnd() const;
    // Reads the next whole line without its "\n" or "\r\n"; false at the end of the file.
    bool ReadLine(std::string &line);
    // Reads exactly size bytes (binary blocks inside mixed files); false when fewer are left.
    bool ReadBytes(void *data, std::size_t size);
    // Bytes between the read position and the end of the file (-1 when unknown).
    std::int64_t BytesLeft() const;
    // Records a problem with the current line (used by the Read* routines; the first one is kept).
    void NoteProblem(const std::string &what);

    int LineNumber() const { return line_; } // lines read so far
    bool HadProblem() const { return !problem_.empty(); }
    const std::string &Problem() const { return problem_; } // the first problem, with its line number
    const std::string &Path() const { return path_; }

private:
    std::FILE *file_ = nullptr;
    std::string path_, problem_;
    int line_ = 0;
};

void WriteTextLine(LineFileWriter &file, std::string_view text);
void WriteIntLine(LineFileWriter &file, std::int64_t n);
void WriteBoolLine(LineFileWriter &file, bool flag);
void WriteFloatLine(LineFileWriter &file, double x);

// Each reads one line; on a missing or unconvertible line it returns false and keeps value.
bool ReadTextLine(LineFileReader &file, std::string &value); // trimmed
bool ReadIntLine(LineFileReader &file, std::int32_t &value);
bool ReadBoolLine(LineFileReader &file, bool &value);
bool ReadFloatLine(LineFileReader &file, float &value);
bool ReadFloatLine(LineFileReader &file, double &value);

// The picture of float lines.
inline constexpr std::string_view LineFloatPicture = "0.00000e+00";
