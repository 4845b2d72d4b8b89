#include "batch_naming.h"

#include "file_names.h"
#include "text_format.h"

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <system_error>

std::string BatchOutputFolder(const BatchNaming &naming)
{
    const std::string folder = ExtractDirectoryPart(naming.OutputPrefix);
    return folder.empty() ? naming.LastSaveDirectory : folder;
}

std::string BatchOutputName(const BatchNaming &naming, const std::string &listed, int savedCount)
{
    if (!naming.PreserveFileName)
        return std::string(TrimText(naming.OutputPrefix)) + "_" + std::to_string(savedCount + 1) +
               naming.Extension;
    const std::string stem = StripExtension(listed);
    const std::string suffix(TrimText(naming.Suffix));
    if (naming.UseOutputPath)
        return BatchOutputFolder(naming) + ExtractFileNamePart(stem) + suffix + naming.Extension;
    return stem + suffix + naming.Extension;
}

namespace
{

// What identifies the file a name leads to: device and inode for a file that exists, else the
// absolute normal path with the links of its existing folders resolved.
std::string FileIdentity(const std::string &name)
{
    struct stat info {
    };
    if (!name.empty() && ::stat(name.c_str(), &info) == 0)
        return "inode " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(name, error);
    if (error) {
        error.clear();
        path = std::filesystem::absolute(name, error);
        if (error)
            path = name;
    }
    return "path " + path.lexically_normal().string();
}

} // namespace

bool SameFile(const std::string &a, const std::string &b)
{
    return a == b || FileIdentity(a) == FileIdentity(b);
}

std::string OutputOverInput(const std::string &output, const std::vector<std::string> &inputs)
{
    const std::string identity = FileIdentity(output);
    for (const std::string &input : inputs)
        if (input == output || FileIdentity(input) == identity)
            return "The result would be saved as " + output + ", which is the listed input " + input +
                   ". Change the output name or the list; nothing was processed.";
    return {};
}

std::string BatchNameClash(const BatchNaming &naming, const std::vector<std::string> &listed)
{
    std::map<std::string, std::size_t> firstUse;    // output file -> listed index
    std::map<std::string, std::size_t> listedIndex; // listed file -> index
    for (std::size_t i = 0; i < listed.size(); ++i)
        listedIndex.emplace(FileIdentity(listed[i]), i);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        // A numbered name is taken by the file at index i when no file before it was skipped, or by a
        // later file when some were: so a numbered output clashes with every listed file after i.
        const std::string out = BatchOutputName(naming, listed[i], static_cast<int>(i));
        const std::string file = FileIdentity(out);
        const auto [it, fresh] = firstUse.emplace(file, i);
        if (!fresh)
            return "The files " + listed[it->second] + " and " + listed[i] + " would both be saved as " +
                   out + ". Change the suffix or the list; nothing was processed.";
        const auto source = listedIndex.find(file);
        if (source != listedIndex.end() && source->second > i)
            return "The result of " + listed[i] + " would be saved over " + listed[source->second] +
                   ", which is still to be processed. Change the " +
                   (naming.PreserveFileName ? "suffix" : "output prefix") +
                   " or the list; nothing was processed.";
    }
    return {};
}

int BatchSaveFormatCode(int index)
{
    return index == 1 ? 1 : (index == 2 ? 3 : 0);
}

const char *BatchSaveExtensionFor(int index)
{
    return index == 1 ? ".fit" : (index == 2 ? ".png" : ".kvr");
}

// ---------------------------------------------------------------------------------------------

std::string WithExtension(const std::string &name, const std::string &extension)
{
    return ExtractFileNamePart(name).find('.') == std::string::npos ? name + extension : name;
}

namespace
{

std::string BareExtension(const std::string &typed)
{
    std::string extension(TrimText(typed));
    while (!extension.empty() && extension.front() == '.')
        extension.erase(0, 1);
    return extension;
}

// True when a file prefix + n + "." + extension exists for some n of first..last. Only the first
// thousand numbers are looked at: a series is found by its start.
bool AnyExists(const std::string &prefix, const std::string &extension, int first, int last)
{
    std::error_code ec;
    for (long long n = first; n <= last && n < static_cast<long long>(first) + 1000; ++n)
        if (std::filesystem::is_regular_file(prefix + std::to_string(n) + "." + extension, ec))
            return true;
    return false;
}

} // namespace

SeriesNames ResolveSeries(const std::string &prefix, const std::string &extension, int first, int last)
{
    static const char *const imageExtensions[] = {"kvr", "fit", "fts", "fiz", "fits", "png", "bmp"};
    const std::string typed = BareExtension(extension);
    std::vector<std::string> prefixes{prefix};
    if (!prefix.empty() && prefix.back() != '_' && prefix.back() != '/')
        prefixes.push_back(prefix + "_");
    for (const std::string &p : prefixes) {
        if (!typed.empty()) {
            if (AnyExists(p, typed, first, last))
                return {p, typed, true};
            continue;
        }
        for (const char *candidate : imageExtensions)
            if (AnyExists(p, candidate, first, last))
                return {p, candidate, true};
    }
    return {prefix, typed, false};
}

std::string SeriesFileName(const SeriesNames &series, int n)
{
    return series.Prefix + std::to_string(n) + "." + series.Extension;
}

std::string SeriesNotFound(const std::string &prefix, const std::string &extension, int first, int last)
{
    const std::string typed = BareExtension(extension);
    return "No files were found named " + prefix + "<n>." +
           (typed.empty() ? std::string("<kvr, fit or png>") : typed) + " for n from " +
           std::to_string(first) + " to " + std::to_string(last) + ".";
}
