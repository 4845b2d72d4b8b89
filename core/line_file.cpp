#include "line_file.h"

#include "ui_hooks.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// ---- Writer ----

LineFileWriter::~LineFileWriter()
{
    if (file_) {
        std::fclose(file_);
        std::remove(tempPath_.c_str());
    }
}

bool LineFileWriter::Open(const std::string &path)
{
    return Open(path, UserDecimalSeparator());
}

bool LineFileWriter::Open(const std::string &path, char decimalSeparator)
{
    if (file_) {
        std::fclose(file_);
        std::remove(tempPath_.c_str());
        file_ = nullptr;
    }
    path_ = path;
    separator_ = decimalSeparator;
    failed_ = false;
    error_.clear();
    // Replacing a symbolic link would cut it from the file it names: write that file instead.
    target_ = path;
    if (char *resolved = ::realpath(path.c_str(), nullptr)) {
        target_ = resolved;
        std::free(resolved);
    }
    // The temporary file sits beside the target so that the final rename stays on one file system;
    // it takes the permissions of the file it replaces.
    mode_t mode = 0644;
    struct stat existing;
    if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;
    std::string pattern = target_ + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    ::fchmod(fd, mode);
    file_ = ::fdopen(fd, "w");
    if (!file_) {
        error_ = std::strerror(errno);
        ::close(fd);
        std::remove(pattern.c_str());
        return false;
    }
    tempPath_ = pattern;
    return true;
}

bool LineFileWriter::Close()
{
    if (!file_)
        return false;
    // On the disk before the rename, so that a crash cannot leave an empty file in the old one's place.
    if (!failed_ && (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0)) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
    if (!failed_ && std::ferror(file_)) {
        failed_ = true;
        error_ = "write error";
    }
    if (std::fclose(file_) != 0 && !failed_) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
    file_ = nullptr;
    if (!failed_ && std::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
    if (failed_)
        std::remove(tempPath_.c_str());
    return !failed_;
}

void LineFileWriter::WriteRaw(std::string_view bytes)
{
    WriteBytes(bytes.data(), bytes.size());
}

void LineFileWriter::WriteBytes(const void *data, std::size_t size)
{
    if (!file_ || failed_ || size == 0)
        return;
    if (std::fwrite(data, 1, size, file_) != size) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
}

// ---- Reader ----

LineFileReader::~LineFileReader()
{
    Close();
}

bool LineFileReader::Open(const std::string &path)
{
    Close();
    path_ = path;
    problem_.clear();
    line_ = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        problem_ = std::string("cannot be opened (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

void LineFileReader::Close()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

bool LineFileReader::AtEnd() const
{
    if (!file_)
        return true;
    const int c = std::fgetc(file_);
    if (c == EOF)
        return true;
    std::ungetc(c, file_);
    return false;
}

bool LineFileReader::ReadLine(std::string &line)
{
    line.clear();
    if (!file_)
        return false;
    int c = std::fgetc(file_);
    if (c == EOF)
        return false;
    while (c != EOF && c != '\n') {
        line += static_cast<char>(c);
        c = std::fgetc(file_);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    ++line_;
    return true;
}

bool LineFileReader::ReadBytes(void *data, std::size_t size)
{
    if (!file_)
        return false;
    return std::fread(data, 1, size, file_) == size;
}

std::int64_t LineFileReader::BytesLeft() const
{
    if (!file_)
        return -1;
    const long here = std::ftell(file_);
    if (here < 0 || std::fseek(file_, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(file_);
    std::fseek(file_, here, SEEK_SET);
    return end < here ? -1 : static_cast<std::int64_t>(end - here);
}

void LineFileReader::NoteProblem(const std::string &what)
{
    if (problem_.empty())
        problem_ = what;
}

// ---- Value lines ----

void WriteTextLine(LineFileWriter &file, std::string_view text)
{
    std::string line(text);
    for (char &c : line)
        if (c == '\n' || c == '\r')
            c = ' '; // a line break inside a value would shift every later line
    line += '\n';
    file.WriteRaw(line);
}

void WriteIntLine(LineFileWriter &file, std::int64_t n)
{
    file.WriteRaw(std::to_string(n) + "\n");
}

void WriteBoolLine(LineFileWriter &file, bool flag)
{
    file.WriteRaw(flag ? "true\n" : "false\n");
}

void WriteFloatLine(LineFileWriter &file, double x)
{
    file.WriteRaw(FormatFloat(LineFloatPicture, x, file.DecimalSeparator()) + "\n");
}

namespace
{

bool NextLine(LineFileReader &file, std::string &line)
{
    if (file.ReadLine(line))
        return true;
    file.NoteProblem("the file ends after line " + std::to_string(file.LineNumber()));
    return false;
}

void NoteBadNumber(LineFileReader &file, std::string_view text, const char *kind)
{
    file.NoteProblem("line " + std::to_string(file.LineNumber()) + " holds \"" + std::string(text) +
                     "\", not " + kind);
}

bool ParseNumberLine(std::string_view text, std::int32_t &value)
{
    return ParseIntText(text, value);
}

template <typename T> bool ParseNumberLine(std::string_view text, T &value)
{
    return ParseFloatText(text, value);
}

// Reads one line and converts it; a line that does not convert is noted and the value kept.
template <typename T> bool ReadNumberLine(LineFileReader &file, T &value, const char *kind)
{
    std::string line;
    if (!NextLine(file, line))
        return false;
    if (ParseNumberLine(line, value))
        return true;
    NoteBadNumber(file, TrimText(line), kind);
    return false;
}

} // namespace

bool ReadTextLine(LineFileReader &file, std::string &value)
{
    std::string line;
    if (!NextLine(file, line))
        return false;
    value = std::string(TrimText(line));
    return true;
}

bool ReadIntLine(LineFileReader &file, std::int32_t &value)
{
    return ReadNumberLine(file, value, "a whole number");
}

bool ReadBoolLine(LineFileReader &file, bool &value)
{
    std::string line;
    if (!NextLine(file, line))
        return false;
    const std::string_view text = TrimText(line);
    value = text == "1" || text == "true";
    return true;
}

bool ReadFloatLine(LineFileReader &file, float &value)
{
    return ReadNumberLine(file, value, "a number");
}

bool ReadFloatLine(LineFileReader &file, double &value)
{
    return ReadNumberLine(file, value, "a number");
}
