#include "file_names.h"

#include <filesystem>

namespace
{

// Index of the first character of the file-name part.
std::size_t NameStart(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

} // namespace

std::string ExtractExtension(std::string_view path)
{
    const std::string_view name = path.substr(NameStart(path));
    const std::size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(dot + 1));
}

std::string StripExtension(std::string_view path)
{
    const std::size_t start = NameStart(path);
    const std::size_t dot = path.find('.', start);
    return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

std::string ExtractFileNamePart(std::string_view path)
{
    return std::string(path.substr(NameStart(path)));
}

std::string ExtractDirectoryPart(std::string_view path)
{
    return std::string(path.substr(0, NameStart(path)));
}

bool MakeFolderOf(const std::string &file)
{
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return true;
    return std::filesystem::is_directory(folder.parent_path(), error) &&
           std::filesystem::create_directory(folder, error);
}
