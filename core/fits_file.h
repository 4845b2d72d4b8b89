#pragma once
// FITS images through CFITSIO: unsigned 16-bit, a two-axis image for one frame, a three-axis cube
// for several, with the program's header values as keywords. Files of other programs load with
// their geometry from the axes (any pixel type; values are kept to their low 16 bits), from the
// primary array or, when that is empty, from the first extension (tile-compressed images too).
//
// CFITSIO errors are appended to fits_log.txt in the system temporary folder and shown in a box
// captioned "FITS file I/O error".
#include "ui_hooks.h"

#include <string>

class ImageData;

inline constexpr const char *FitsErrorCaption = "FITS file I/O error";
// The CCDTYPE value that marks files written by this program.
inline constexpr const char *FitsProgramMark = "KORVI_GENERATED_FILE";

// The message of a CFITSIO status: the program's own wording for the statuses it knows, the
// library's text for others, empty only for status 0.
std::string FitsErrorText(int status);
// Where FITS errors are logged: fits_log.txt in the system temporary folder.
std::string FitsErrorLogPath();
// Appends the status's message to the log (one line) and shows it; returns the answer. With a path,
// the message names the file it concerns (on a line of its own in the box, after it in the log).
MessageAnswer ReportFitsError(int status, const std::string &path = {});

// Writes the image: every frame, the program's keywords. The first CFITSIO error stops the save,
// is reported once and leaves no partial file; an existing file is replaced only by a complete new
// one. False on failure.
bool WriteFitsImage(const std::string &path, const ImageData &image);

// Reads the image size: width, height and frames (NAXIS3 for a cube, else 1). Refuses, with a
// message, files without an image of 2 or 3 axes or of an impossible size.
bool ProbeFitsImage(const std::string &path, int &width, int &height, int &frames);

// Reads the file into an image allocated as width x height x frames (LoadImageFile does it).
// Files of this program fill the header from their keywords ("Not found." for missing texts);
// other files get the header of a plain full frame. False after a message on failure.
bool ReadFitsImage(const std::string &path, ImageData &image);

// The DATE value written for a date text of the image header ("Tuesday December 8, 2026" gives
// "2026-12-08"); empty when the text is not such a date. FITS requires DATE in this form.
std::string FitsDateFromText(const std::string &text);
// The header's date text for a FITS DATE value ("2026-12-08" or "2026-12-08T07:16:14" give
// "Tuesday December 8, 2026"); the value itself when it is not such a date.
std::string TextFromFitsDate(const std::string &value);
