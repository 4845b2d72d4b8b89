#pragma once
// Small file helpers for tests: a fresh temporary folder per test and whole-file reads/writes.
#include <filesystem>
#include <string>
#include <vector>

namespace korvi::test
{

// A folder under the build tree's test-tmp (or the system temp folder), removed when the
// object goes out of scope; named after the running test so failures leave readable traces.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
std::vector<std::string> ReadLines(const std::string &path); // split on "\n", "\r\n" kept off

} // namespace korvi::test
