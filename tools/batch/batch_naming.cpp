#include "batch_naming.h"

#include "file_names.h"
#include "text_format.h"

#include <map>

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

std::string BatchNameClash(const BatchNaming &naming, const std::vector<std::string> &listed)
{
    std::map<std::string, std::size_t> firstUse;    // output name -> listed index
    std::map<std::string, std::size_t> listedIndex; // listed name -> index
    for (std::size_t i = 0; i < listed.size(); ++i)
        listedIndex.emplace(listed[i], i);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        // A numbered name is taken by the file at index i when no file before it was skipped, or by a
        // later file when some were: so a numbered output clashes with every listed file after i.
        const std::string out = BatchOutputName(naming, listed[i], static_cast<int>(i));
        const auto [it, fresh] = firstUse.emplace(out, i);
        if (!fresh)
            return "The files " + listed[it->second] + " and " + listed[i] + " would both be saved as " +
                   out + ". Change the suffix or the list; nothing was processed.";
        const auto source = listedIndex.find(out);
        if (source != listedIndex.end() && source->second > i)
            return "The result of " + listed[i] + " would be saved over " + out +
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
