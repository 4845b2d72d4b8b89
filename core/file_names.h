#pragma once
// File-name routines. Paths use '/'. The extension routines look at the file-name part only, so a
// dot in a folder name never cuts a path.
#include <string>
#include <string_view>

// The text after the last '.' of the file-name part; the file-name part itself when it holds no '.'.
std::string ExtractExtension(std::string_view path);
// The path with its file-name part cut before the first '.': "/d/a.b.fits" gives "/d/a"; the path
// unchanged when the name holds no '.'; the directory part alone when the name begins with '.'.
std::string StripExtension(std::string_view path);
// The text after the last '/' (the whole text when it holds none).
std::string ExtractFileNamePart(std::string_view path);
// The text up to and including the last '/'; empty when it holds none.
std::string ExtractDirectoryPart(std::string_view path);
// Makes the folder that `file` would be written into when it is missing but the folder above it
// exists: a folder named for tonight's frames need not exist yet, while a mistyped path does not
// grow a tree of folders. True when the folder exists afterwards (or `file` names none).
bool MakeFolderOf(const std::string &file);
