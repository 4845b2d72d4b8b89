#pragma once
// Output names of batch processing: one output file per listed file, named after it (in the
// output folder or beside it) with a suffix, or numbered after the output prefix. Qt-free.
#include <string>
#include <vector>

struct BatchNaming {
    bool PreserveFileName = true; // name after the listed file + Suffix
    bool UseOutputPath = true;    // ... in the output folder (else beside the listed file)
    std::string OutputPrefix;     // as typed
    std::string Suffix;           // as typed (trimmed when used)
    std::string Extension;        // with its dot: BatchSaveExtension
    std::string LastSaveDirectory;
};

// The folder of OutputPrefix (up to and including its last '/'); LastSaveDirectory when empty.
std::string BatchOutputFolder(const BatchNaming &naming);

// The output name of `listed` when `savedCount` files were saved before it in this run. The
// listed name is cut at the first '.' of its file-name part only, so dotted folders stay whole.
std::string BatchOutputName(const BatchNaming &naming, const std::string &listed, int savedCount);

// True when the two names lead to the same file: the same file on disk when it exists (however the
// names are spelt: "./", doubled '/', "..", symbolic links, a name relative to the working folder,
// hard links), else the same path once made absolute and normal.
bool SameFile(const std::string &a, const std::string &b);

// The check of every command that saves one result made from the listed files (Sum, the
// calibration frames, stacking): the message when `output` is one of `inputs` (in any spelling),
// else an empty text. Such a save would replace one of the observer's inputs with the result.
std::string OutputOverInput(const std::string &output, const std::vector<std::string> &inputs);

// When the naming keeps file names, two listed files can map to one output name ("a.1.fit" and
// "a.2.fit" both give "a_p.kvr"); with either naming an output can be a listed file itself
// (numbered "run_1.kvr" among the inputs). Returns the message
// naming the first such pair, or an empty text when every output name is distinct and no output
// replaces a listed file the run has not read yet. Names are compared as files (SameFile).
std::string BatchNameClash(const BatchNaming &naming, const std::vector<std::string> &listed);

// The save-format code and extension of the "Save format:" list index (0 own, 1 FITS, 2 PNG).
int BatchSaveFormatCode(int index);
const char *BatchSaveExtensionFor(int index);

// ---- Names typed by hand (batch "File Quick Select", stacking, transfer constant)

// `name` with `extension` (with its dot) added when its file-name part has none.
std::string WithExtension(const std::string &name, const std::string &extension);

// A numbered series: file n is Prefix + n + "." + Extension.
struct SeriesNames {
    std::string Prefix, Extension; // the extension without its dot
    bool Found = false;            // at least one file of first..last exists
};
// Resolves a prefix and extension as typed: the extension may be given with or without its dot,
// or left empty (it is then found from the files that exist, among the image formats); a prefix
// typed without its closing "_" ("m31" for m31_1.kvr ...) is tried with it when the prefix as
// typed finds no file. Found is false when no file of first..last matches.
SeriesNames ResolveSeries(const std::string &prefix, const std::string &extension, int first, int last);
std::string SeriesFileName(const SeriesNames &series, int n);
// "No files were found named <prefix><n>.<extension> for n from <first> to <last>."
std::string SeriesNotFound(const std::string &prefix, const std::string &extension, int first, int last);
