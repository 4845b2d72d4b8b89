#include "fits_file.h"

#include "image_data.h"
#include "image_file.h"
#include "settings.h"
#include "text_format.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include <fitsio.h>
#include <zlib.h>

namespace
{

// Pixels read per CFITSIO call (whole rows, at least one).
constexpr long long FitsChunkPixels = 1 << 19;

// The program's wording of CFITSIO statuses.
const std::map<int, const char *> &FitsMessages()
{
    static const std::map<int, const char *> messages = {
        {101, "input and output files are the same"},
        {103, "too many FITS files open at once; all internal buffers full"},
        {104, "error opening existing file"},
        {105, "error creating new FITS file (does a file with this name already exist?)"},
        {106, "error writing record to FITS file"},
        {107, "end-of-file encountered while reading record from FITS file"},
        {108, "error reading record from file"},
        {110, "error closing FITS file"},
        {111, "internal array dimensions exceeded"},
        {112, "Cannot modify file with readonly access"},
        {113, "Could not allocate memory"},
        {114, "illegal logical unit number - must be between 1 and 199, inclusive"},
        {115, "NULL input pointer to routine"},
        {116, "error seeking position in file"},
        {121, "invalid URL prefix on file name"},
        {122, "tried to register too many IO drivers"},
        {123, "driver initialization failed"},
        {124, "matching driver is not registered"},
        {125, "failed to parse input file URL"},
        {151, "bad argument in shared memory driver"},
        {152, "null pointer passed as an argument"},
        {153, "no more free shared memory handles"},
        {154, "shared memory driver is not initialized"},
        {155, "IPC error returned by a system call"},
        {156, "no memory in shared memory driver"},
        {157, "resource deadlock would occur"},
        {158, "attempt to open/create lock file failed"},
        {159, "shared memory block cannot be resized at the moment"},
        {201, "header not empty; can't write required keywords"},
        {202, "specified keyword name was not found in the header"},
        {203, "specified header record number is out of bounds"},
        {204, "keyword value field is blank"},
        {205, "keyword value string is missing the closing quote character"},
        {207, "illegal character in keyword name or header record"},
        {208, "keyword does not have expected name. Keyword out of sequence?"},
        {209, "keyword does not have expected integer value"},
        {210, "could not find the required END header keyword"},
        {211, "illegal BITPIX keyword value"},
        {212, "illegal NAXIS keyword value"},
        {213, "illegal NAXISn keyword value: must be 0 or positive integer"},
        {214, "illegal PCOUNT keyword value"},
        {215, "illegal GCOUNT keyword value"},
        {216, "illegal TFIELDS keyword value"},
        {217, "negative ASCII or binary table width value (NAXIS1)"},
        {218, "negative number of rows in ASCII or binary table (NAXIS2)"},
        {219, "column name (TTYPE keyword) not found"},
        {220, "illegal SIMPLE keyword value"},
        {221, "could not find the required SIMPLE header keyword"},
        {222, "could not find the required BITPIX header keyword"},
        {223, "could not find the required NAXIS header keyword"},
        {224, "could not find all the required NAXISn keywords in the header"},
        {225, "could not find the required XTENSION header keyword"},
        {226, "the CHDU is not an ASCII table extension"},
        {227, "the CHDU is not a binary table extension"},
        {228, "could not find the required PCOUNT header keyword"},
        {229, "could not find the required GCOUNT header keyword"},
        {230, "could not find the required TFIELDS header keyword"},
        {231, "could not find all the required TBCOLn keywords in the header"},
        {232, "could not find all the required TFORMn keywords in the header"},
        {233, "the CHDU is not an IMAGE extension"},
        {234, "illegal TBCOL keyword value; out of range"},
        {235, "this operation only allowed for ASCII or BINARY table extension"},
        {236, "column is too wide to fit within the specified width of the ASCII table"},
        {237, "the specified column name template matched more than one column name"},
        {241, "binary table row width is not equal to the sum of the field widths"},
        {251, "unrecognizable type of FITS extension"},
        {252, "unrecognizable FITS record"},
        {253, "END keyword contains non-blank characters in columns 9-80"},
        {254, "Header fill area contains non-blank characters"},
        {255, "Data fill area contains non-blank on non-zero values"},
        {261, "unable to parse the TFORM keyword value string"},
        {262, "unrecognizable TFORM datatype code"},
        {263, "illegal TDIMn keyword value"},
        {301, "illegal HDU number; less than 1 or greater than internal buffer size"},
        {302, "column number out of range (1 - 999)"},
        {304, "attempt to move to negative file record number"},
        {306, "attempted to read or write a negative number of bytes in the FITS file"},
        {307, "illegal starting row number for table read or write operation"},
        {308, "illegal starting element number for table read or write operation"},
        {309, "attempted to read or write character string in non-character table column"},
        {310, "attempted to read or write logical value in non-logical table column"},
        {311, "illegal ASCII table TFORM format code for attempted operation"},
        {312, "illegal binary table TFORM format code for attempted operation"},
        {314, "value for undefined pixels has not been defined"},
        {317, "attempted to read or write descriptor in a non-descriptor field"},
        {320, "number of array dimensions out of range"},
        {321, "first pixel number is greater than the last pixel number"},
        {322, "attempt to set BSCALE or TSCALn scaling parameter = 0"},
        {323, "illegal axis length less than 1"},
        {340, "NOT_GROUP_TABLE 340 - Grouping function error"},
        {341, "HDU_ALREADY_MEMBER"},
        {342, "MEMBER_NOT_FOUND"},
        {343, "GROUP_NOT_FOUND"},
        {344, "BAD_GROUP_ID"},
        {345, "TOO_MANY_HDUS_TRACKED"},
        {346, "HDU_ALREADY_TRACKED"},
        {347, "BAD_OPTION"},
        {348, "IDENTICAL_POINTERS"},
        {349, "BAD_GROUP_ATTACH"},
        {350, "BAD_GROUP_DETACH"},
        {360, "NGP_NO_MEMORY - malloc failed"},
        {361, "NGP_READ_ERR - read error from file"},
        {362, "NGP_NUL_PTR - null pointer passed as an argument"},
        {363, "NGP_EMPTY_CURLINE - line read seems to be empty"},
        {364, "NGP_UNREAD_QUEUE_FULL - cannot unread more then 1 line (or single line twice)"},
        {365, "NGP_INC_NESTING - too deep include file nesting (infinite loop, template includes itself ?)"},
        {366, "NGP_ERR_FOPEN - fopen() failed, cannot open template file"},
        {367, "NGP_EOF - end of file encountered and not expected"},
        {368, "NGP_BAD_ARG - bad arguments passed. Usually means internal parser error."},
        {369, "NGP_TOKEN_NOT_EXPECT - token not expected here"},
        {401, "error attempting to convert an integer to a formatted character string"},
        {402, "error attempting to convert a real value to a formatted character string"},
        {403, "cannot convert a quoted string keyword to an integer"},
        {404, "attempted to read a non-logical keyword value as a logical value"},
        {405, "cannot convert a quoted string keyword to a real value"},
        {406, "cannot convert a quoted string keyword to a double precision value"},
        {407, "error attempting to read character string as an integer"},
        {408, "error attempting to read character string as a real value"},
        {409, "error attempting to read character string as a double precision value"},
        {410, "bad keyword datatype code"},
        {411, "illegal number of decimal places while formatting floating point value"},
        {412, "numerical overflow during implicit datatype conversion"},
        {413, "error compressing image"},
        {414, "error uncompressing image"},
        {420, "error in date or time conversion"},
        {431, "syntax error in parser expression"},
        {432, "expression did not evaluate to desired type"},
        {433, "vector result too large to return in array"},
        {434, "data parser failed not sent an out column"},
        {435, "bad data encounter while parsing column"},
        {436, "parse error: output file not of proper type"},
        {501, "celestial angle too large for projection"},
        {502, "bad celestial coordinate or pixel value"},
        {503, "error in celestial coordinate calculation"},
        {504, "unsupported type of celestial projection"},
        {505, "required celestial coordinate keywords not found"},
        {506, "approximate wcs keyword values were returned"},
        {507, "File not created with Korvi, continue?"},
    };
    return messages;
}

constexpr std::array<const char *, 12> MonthNames = {"January",   "February", "March",    "April",
                                                     "May",       "June",     "July",     "August",
                                                     "September", "October",  "November", "December"};

// FITS keeps keyword values to printable ASCII; other characters become '?'.
std::string FitsText(const std::string &text)
{
    std::string value = text;
    for (char &c : value)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            c = '?';
    return value;
}

// Closes (and, for a failed write, deletes) a CFITSIO file in every case.
struct FitsHandle {
    fitsfile *file = nullptr;
    bool deleteOnClose = false;
    ~FitsHandle()
    {
        if (!file)
            return;
        int status = 0;
        if (deleteOnClose)
            fits_delete_file(file, &status);
        else
            fits_close_file(file, &status);
    }
    // Closes now and returns the status of the close.
    int Close()
    {
        int status = 0;
        fits_close_file(file, &status);
        file = nullptr;
        return status;
    }
};

enum class RawHeader { Missing, Read, Damaged };

// True for a value CFITSIO can convert safely: empty (undefined), a logical, a number (with a 'D'
// exponent too) or a complex pair. Its own conversion overruns a buffer on some other texts.
bool SoundFitsNumber(std::string_view value)
{
    if (value.empty() || value == "T" || value == "F")
        return true;
    if (value.front() == '(') {
        const std::size_t comma = value.find(',');
        return value.back() == ')' && comma != std::string_view::npos &&
               SoundFitsNumber(TrimText(value.substr(1, comma - 1))) &&
               SoundFitsNumber(TrimText(value.substr(comma + 1, value.size() - comma - 2)));
    }
    if (value.find(',') != std::string_view::npos || value.size() > 40)
        return false;
    std::string text(value.front() == '+' ? value.substr(1) : value);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == 'D' || c == 'd'; }, 'E');
    double number = 0.0;
    return ParseFloatText(text, number);
}

// The header cards of the HDU that starts at offset: keyword and value (quotes and comment
// removed), and the names of cards whose unquoted value is not a sound number. zlib reads plain and
// gzip-compressed files alike, so offsets are those of the FITS data either way. Missing when the file ends
// at offset, Damaged when no END card is found within a sane length.
RawHeader ReadRawHeader(const std::string &path, std::uint64_t offset,
                        std::multimap<std::string, std::string> &cards, std::vector<std::string> &malformed)
{
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file)
        return RawHeader::Damaged;
    RawHeader result = RawHeader::Damaged;
    char block[2880];
    if (gzseek(file, static_cast<z_off_t>(offset), SEEK_SET) == static_cast<z_off_t>(offset)) {
        for (int blocks = 0; blocks < 200 && result == RawHeader::Damaged; ++blocks) {
            const int got = gzread(file, block, sizeof block);
            if (got != static_cast<int>(sizeof block)) {
                if (blocks == 0 && got == 0)
                    result = RawHeader::Missing;
                break;
            }
            for (int card = 0; card < 36; ++card) {
                const std::string_view text(block + 80 * card, 80);
                const std::string name(TrimText(text.substr(0, 8)));
                if (name == "END") {
                    result = RawHeader::Read;
                    break;
                }
                if (text.substr(8, 2) != "= ")
                    continue;
                std::string_view value = TrimText(text.substr(10));
                if (!value.empty() && value.front() == '\'') {
                    const std::size_t close = value.find('\'', 1);
                    value =
                        TrimText(value.substr(1, close == std::string_view::npos ? value.npos : close - 1));
                } else {
                    value = TrimText(value.substr(0, value.find('/')));
                    if (!SoundFitsNumber(value))
                        malformed.push_back(name);
                }
                cards.emplace(name, std::string(value));
            }
        }
    } else {
        result = RawHeader::Missing;
    }
    gzclose(file);
    return result;
}

// Checks the header of the first extension (at offset) for an image this program can read; returns
// the problem for the user, empty when CFITSIO may open it.
std::string CheckFirstExtension(const std::string &path, std::uint64_t offset)
{
    const std::string noImage = "the FITS file holds no image.";
    std::multimap<std::string, std::string> cards;
    std::vector<std::string> malformed;
    switch (ReadRawHeader(path, offset, cards, malformed)) {
    case RawHeader::Missing:
        return noImage;
    case RawHeader::Damaged:
        return "the FITS file's first extension is damaged.";
    case RawHeader::Read:
        break;
    }
    // A keyword given twice counts as missing: which copy CFITSIO takes is not ours to guess.
    const auto text = [&](const std::string &key) {
        const auto found = cards.find(key);
        return found == cards.end() || cards.count(key) != 1 ? std::string() : found->second;
    };
    const auto integer = [&](const std::string &key, std::int32_t &value) {
        const auto found = cards.find(key);
        return found != cards.end() && cards.count(key) == 1 && ParseIntText(found->second, value);
    };
    const std::string kind = text("XTENSION");
    if (kind == "IMAGE")
        return {};
    if (kind != "BINTABLE" || text("ZIMAGE") != "T")
        return noImage;
    if (!malformed.empty())
        return "the compressed image in the FITS file is damaged.";
    // A tile-compressed image: every number CFITSIO computes with must be sound.
    const std::string damaged = "the compressed image in the FITS file is damaged.";
    std::int32_t axes = 0, bitpix = 0, number = 0;
    if (!integer("ZNAXIS", axes))
        return damaged;
    if (axes < 2 || axes > 3)
        return "the FITS image must have two or three axes.";
    if (!integer("ZBITPIX", bitpix) ||
        (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64))
        return damaged;
    for (int n = 1; n <= axes; ++n) {
        if (!integer("ZNAXIS" + std::to_string(n), number) || number < 1)
            return damaged;
        if (cards.count("ZTILE" + std::to_string(n)) != 0 &&
            (!integer("ZTILE" + std::to_string(n), number) || number < 1))
            return damaged;
    }
    for (const char *key : {"NAXIS1", "NAXIS2", "TFIELDS"})
        if (!integer(key, number) || number < 0)
            return damaged;
    const std::string method = text("ZCMPTYPE");
    if (method != "RICE_1" && method != "RICE_ONE" && method != "GZIP_1" && method != "GZIP_2" &&
        method != "PLIO_1" && method != "HCOMPRESS_1" && method != "NOCOMPRESS")
        return damaged;
    // The compression parameters: CFITSIO takes them by position (ZVAL1, ZVAL2), whatever their
    // names say, and divides by the block size.
    const auto parameter = [&](int n, double &value) {
        const std::string key = "ZVAL" + std::to_string(n);
        const std::size_t copies = cards.count(key);
        if (copies == 0)
            return 0;
        return copies == 1 && ParseFloatText(text(key), value) ? 1 : -1;
    };
    double first = 0.0, second = 0.0;
    const int hasFirst = parameter(1, first);
    const int hasSecond = parameter(2, second);
    if (hasFirst < 0 || hasSecond < 0)
        return damaged;
    if (method == "RICE_1" || method == "RICE_ONE") {
        if (hasFirst && (first < 1 || first > 65536))
            return damaged;
        if (hasSecond && second != 1 && second != 2 && second != 4 && second != 8)
            return damaged;
    }
    if (method == "HCOMPRESS_1" && hasFirst && first < 0)
        return damaged;
    return {};
}

// True when the file is compressed whole with gzip.
bool GzipFile(const std::string &path)
{
    unsigned char magic[2] = {0, 0};
    if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
        if (std::fread(magic, 1, 2, file) != 2)
            magic[0] = 0;
        std::fclose(file);
    }
    return magic[0] == 0x1f && magic[1] == 0x8b;
}

// CFITSIO unpacks a gzip file into a block of the size the file's trailer gives. Deflate shrinks
// data by at most about 1032 to 1, so a larger size is damage, not a file to allocate for.
bool PlausibleGzipSize(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    unsigned char trailer[4] = {0, 0, 0, 0};
    long size = -1;
    if (std::fseek(file, -4, SEEK_END) == 0 && std::fread(trailer, 1, 4, file) == 4)
        size = std::ftell(file);
    std::fclose(file);
    const std::uint64_t unpacked =
        trailer[0] | (trailer[1] << 8) | (trailer[2] << 16) | (static_cast<std::uint64_t>(trailer[3]) << 24);
    // CFITSIO takes a stated size below the packed size of a file over 10000 bytes for a file
    // beyond 4 GB (the trailer keeps the size modulo 2^32) and allocates for that.
    if (size > 10000 && unpacked < static_cast<std::uint64_t>(size))
        return false;
    return size > 0 && unpacked >= 2880 && unpacked <= 1040 * static_cast<std::uint64_t>(size);
}

// Opens a file for reading by its plain name (no CFITSIO file-name syntax, so "[" in a folder name
// is just a character) and moves to the image: the primary array, or the first extension when the
// primary array is empty. Returns 0 or a CFITSIO status; problemText is set for files that open but
// hold no usable image.
int OpenImage(const std::string &path, FitsHandle &handle, int &naxis, long axes[3], int &bitpix,
              std::string &problemText)
{
    int status = 0;
    if (GzipFile(path) && !PlausibleGzipSize(path)) {
        problemText = "the compressed FITS file is damaged.";
        return 0;
    }
    {
        // The numbers CFITSIO reads as it opens the file must be sound numbers.
        std::multimap<std::string, std::string> cards;
        std::vector<std::string> malformed;
        if (ReadRawHeader(path, 0, cards, malformed) == RawHeader::Read)
            for (const std::string &name : malformed)
                if (name == "SIMPLE" || name == "BITPIX" || name.starts_with("NAXIS") || name == "EXTEND" ||
                    name == "BZERO" || name == "BSCALE" || name == "BLANK" || name == "PCOUNT" ||
                    name == "GCOUNT") {
                    problemText = "the FITS header is damaged (" + name + ").";
                    return 0;
                }
    }
    if (fits_open_diskfile(&handle.file, path.c_str(), READONLY, &status))
        return status;
    naxis = 0;
    if (fits_get_img_dim(handle.file, &naxis, &status))
        return status;
    if (naxis == 0) {
        // The first extension follows the primary array's data. Its header is checked before
        // CFITSIO interprets it: the library divides by tile sizes of compressed images unchecked.
        int type = 0;
        LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
        if (fits_get_hduaddrll(handle.file, &headStart, &dataStart, &dataEnd, &status))
            return status;
        problemText = CheckFirstExtension(path, static_cast<std::uint64_t>(dataEnd));
        if (!problemText.empty())
            return 0;
        if (fits_movabs_hdu(handle.file, 2, &type, &status))
            return status;
        if (type != IMAGE_HDU) {
            problemText = "the FITS file holds no image.";
            return 0;
        }
        if (fits_get_img_dim(handle.file, &naxis, &status))
            return status;
    }
    if (naxis < 2 || naxis > 3) {
        problemText = "the FITS image must have two or three axes.";
        return 0;
    }
    axes[0] = axes[1] = axes[2] = 1;
    if (fits_get_img_size(handle.file, naxis, axes, &status) ||
        fits_get_img_type(handle.file, &bitpix, &status))
        return status;
    if (!PlausibleImageSize(axes[0], axes[1], axes[2])) {
        problemText = "the FITS image has an impossible size.";
        return 0;
    }
    // An uncompressed image must lie within the file (a compressed one is checked as it is read,
    // and so is a file compressed whole, which CFITSIO holds unpacked in memory).
    if (!fits_is_compressed_image(handle.file, &status) && !GzipFile(path)) {
        LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
        if (fits_get_hduaddrll(handle.file, &headStart, &dataStart, &dataEnd, &status))
            return status;
        std::error_code error;
        const std::uintmax_t fileSize = std::filesystem::file_size(path, error);
        const std::uint64_t bytes = static_cast<std::uint64_t>(std::abs(bitpix) / 8) *
                                    static_cast<std::uint64_t>(axes[0] * axes[1] * axes[2]);
        if (!error && static_cast<std::uint64_t>(dataStart) + bytes > fileSize) {
            problemText = "the FITS file is shorter than its header says.";
            return 0;
        }
    }
    return status;
}

void ShowFitsProblem(const std::string &path, const std::string &problem)
{
    Ui().ShowMessage(KorviErrorCaption, "Could not read " + path + ": " + problem, MessageButtons::Ok,
                     MessageIcon::Error);
}

// A string keyword (long strings continued over several cards are read whole); fallback when it
// is missing.
std::string ReadStringKey(fitsfile *file, const char *name, const char *fallback)
{
    int status = 0;
    char *value = nullptr;
    fits_read_key_longstr(file, name, &value, nullptr, &status);
    std::string text = status == 0 && value ? std::string(value) : std::string(fallback);
    if (value) {
        int ignored = 0;
        fits_free_memory(value, &ignored);
    }
    return text;
}

// An integer keyword; fallback when it is missing or not a number. The value text is converted
// here: CFITSIO's own conversion overruns a buffer on some malformed values.
long ReadLongKey(fitsfile *file, const char *name, long fallback)
{
    int status = 0;
    char text[FLEN_VALUE] = "";
    if (fits_read_keyword(file, name, text, nullptr, &status))
        return fallback;
    const std::string_view value = TrimText(text);
    std::int32_t integer = 0;
    if (ParseIntText(value, integer))
        return integer;
    double real = 0.0;
    if (ParseFloatText(value, real) && std::isfinite(real) && std::abs(real) < 2147483648.0)
        return static_cast<long>(std::trunc(real));
    return fallback;
}

// OpenImage, with a failure shown to the user: a CFITSIO status through the FITS error box and log,
// a file without a usable image as a message naming the file.
// True for an uncompressed image of stored 16-bit values with BSCALE 1 and BZERO 32768 (a missing
// key has its FITS default: BSCALE 1, BZERO 0).
bool OffsetShortImage(fitsfile *file, int bitpix)
{
    int status = 0;
    if (bitpix != SHORT_IMG || fits_is_compressed_image(file, &status) || status != 0)
        return false;
    fits_write_errmark();
    const auto number = [&](const char *key, double fallback) {
        int keyStatus = 0;
        double value = fallback;
        if (fits_read_key(file, TDOUBLE, key, &value, nullptr, &keyStatus))
            value = keyStatus == KEY_NO_EXIST ? fallback : std::nan("");
        return value;
    };
    const bool offset = number("BSCALE", 1.0) == 1.0 && number("BZERO", 0.0) == 32768.0;
    fits_clear_errmark(); // a missing key's message is no error of the read
    return offset;
}

bool OpenReportedImage(const std::string &path, FitsHandle &handle, int &naxis, long axes[3], int &bitpix)
{
    std::string problem;
    if (const int status = OpenImage(path, handle, naxis, axes, bitpix, problem)) {
        ReportFitsError(status);
        return false;
    }
    if (!problem.empty()) {
        ShowFitsProblem(path, problem);
        return false;
    }
    return true;
}

} // namespace

std::string FitsErrorText(int status)
{
    if (status == 0)
        return {};
    const auto &messages = FitsMessages();
    if (const auto found = messages.find(status); found != messages.end())
        return found->second;
    char text[FLEN_STATUS] = "";
    fits_get_errstatus(status, text);
    if (text[0] != '\0' && std::strncmp(text, "unknown error status", 20) != 0)
        return text;
    return "FITS error " + std::to_string(status);
}

std::string FitsErrorLogPath()
{
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error)
        folder = "/tmp";
    return (folder / "fits_log.txt").string();
}

MessageAnswer ReportFitsError(int status, const std::string &path)
{
    const std::string message = FitsErrorText(status);
    // The log is a convenience: when it cannot be written the box still tells the user.
    if (std::FILE *log = std::fopen(FitsErrorLogPath().c_str(), "a")) {
        if (path.empty())
            std::fprintf(log, "%s\n", message.c_str());
        else
            std::fprintf(log, "%s (%s)\n", message.c_str(), path.c_str());
        std::fclose(log);
    }
    fits_clear_errmsg();
    return Ui().ShowMessage(FitsErrorCaption, path.empty() ? message : message + "\n" + path,
                            MessageButtons::Ok, MessageIcon::Error);
}

std::string FitsDateFromText(const std::string &text)
{
    // Words of the text: an optional weekday, the month, the day and the year.
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        if (c == ' ' || c == ',' || c == '\t') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    for (std::size_t i = 0; i + 2 < words.size(); ++i) {
        const auto month = std::find(MonthNames.begin(), MonthNames.end(), words[i]);
        if (month == MonthNames.end())
            continue;
        std::int32_t day = 0, year = 0;
        if (!ParseIntText(words[i + 1], day) || !ParseIntText(words[i + 2], year) || year < 1 || year > 9999)
            return {};
        const std::chrono::year_month_day date{
            std::chrono::year(year),
            std::chrono::month(static_cast<unsigned>(month - MonthNames.begin() + 1)),
            std::chrono::day(static_cast<unsigned>(std::max(day, 0)))};
        if (!date.ok())
            return {};
        char iso[16];
        std::snprintf(iso, sizeof iso, "%04d-%02u-%02u", year, static_cast<unsigned>(date.month()),
                      static_cast<unsigned>(date.day()));
        return iso;
    }
    return {};
}

std::string TextFromFitsDate(const std::string &value)
{
    const std::string_view v = TrimText(value);
    const auto digits = [&](std::size_t from, std::size_t count, std::int32_t &out) {
        return ParseIntText(v.substr(from, count), out) &&
               std::all_of(v.begin() + from, v.begin() + from + count,
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    std::int32_t year, month, day;
    if (v.size() < 10 || v[4] != '-' || v[7] != '-' || !digits(0, 4, year) || !digits(5, 2, month) ||
        !digits(8, 2, day) || (v.size() > 10 && v[10] != 'T'))
        return value;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok())
        return value;
    const auto seconds = std::chrono::sys_days(date).time_since_epoch();
    return GmtDateTimeText(
        false, static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(seconds).count()));
}

bool WriteFitsImage(const std::string &path, const ImageData &image)
{
    if (image.Empty) {
        Ui().ShowMessage(KorviCaption, "There is no image to save.", MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    ReplacingFile target(path);
    // CFITSIO blames an existing file for every file it cannot create: a folder that is missing or
    // cannot be written, or a protected file, is found first and reported as the other writers
    // report it.
    if (!target.Reserve()) {
        ReportCannotOpenForWriting(path);
        return false;
    }
    FitsHandle handle;
    handle.deleteOnClose = true;
    int status = 0;
    long axes[3] = {image.Width, image.Height, image.Frames};
    const int naxis = image.Frames == 1 ? 2 : 3;
    const LONGLONG pixels = static_cast<LONGLONG>(image.PixelCount());

    // CFITSIO returns at once from every call made with a non-zero status, so the status of the
    // first failing call survives the calls after it and is reported once below.
    fits_create_diskfile(&handle.file, target.TemporaryPath().c_str(), &status);
    fits_create_img(handle.file, USHORT_IMG, naxis, axes, &status);

    const std::string texts[] = {FitsText(image.HeaderFileName), FitsText(image.Description),
                                 FitsText(image.Filters),        FitsText(image.IntegrationTime),
                                 FitsText(image.CCDTemperature), FitsText(image.Time)};
    if (std::any_of(std::begin(texts), std::end(texts), [](const std::string &t) { return t.size() > 68; }))
        fits_write_key_longwarn(handle.file, &status);
    const auto putText = [&](const char *key, const std::string &value, const char *comment) {
        fits_update_key_longstr(handle.file, key, value.c_str(), comment, &status);
    };
    const auto putLong = [&](const char *key, double value, const char *comment) {
        long number = 0;
        if (std::isfinite(value))
            number = static_cast<long>(std::clamp(std::trunc(value), -2147483648.0, 2147483647.0));
        fits_update_key(handle.file, TLONG, key, &number, comment, &status);
    };
    fits_update_key(handle.file, TSTRING, "CCDTYPE", const_cast<char *>(FitsProgramMark), "CCD chip used",
                    &status);
    putText("FILENAME", texts[0], "original file name");
    // FITS wants DATE as a calendar date; a date text that is not one is left out.
    const std::string date = FitsDateFromText(image.Date);
    if (!date.empty())
        putText("DATE", date, "observation date");
    putText("TIME", texts[5], "observation time (GMT)");
    putText("DESCRIPT", texts[1], "observation description");
    putText("FILTERS", texts[2], "filters used");
    putText("INTTIME", texts[3], "integration time");
    putText("CCDTEMPERATURE", texts[4], "CCD temperature");
    putLong("HIGHPIX", image.Brightest, "highest intensity value");
    putLong("LOWPIX", image.Dimmest, "lowest intensity value");
    putLong("NCOLMAX", image.MaxColumns, "total number of columns on CCD");
    putLong("NROWMAX", image.MaxRows, "total number of rows on CCD");
    putLong("XHI", image.XHi, "upper corner pixel x");
    putLong("XLO", image.XLo, "lower corner pixel x");
    putLong("YHI", image.YHi, "upper corner pixel y");
    putLong("YLO", image.YLo, "lower corner pixel y");
    putLong("YBIN", image.YBin, "vertical binning index");
    putLong("XBIN", image.XBin, "horizontal binning index");
    putLong("TOPDARKLEVEL", image.TopDark, "top thermal count");
    putLong("BOTTOMDARKLEVEL", image.BottomDark, "bottom thermal count");
    putLong("OFFSETLEVEL", image.OffsetLevel, "offset level");
    putLong("DISPLAYOFFSET", image.DisplayOffset, "display offset level");
    putLong("SKYLEVEL", image.SkyLevel, "sky level");
    // The pixels go last: a key added after them can outgrow the header's last block, and CFITSIO
    // then moves every pixel already written to make room.
    // The pixel rows are one contiguous block in the file's order (x fastest, rows, frames);
    // CFITSIO converts from it into its own buffer and does not write to it.
    fits_write_img(handle.file, TUSHORT, 1, pixels, const_cast<std::uint16_t *>(image.Rows.Data()), &status);

    if (status == 0) {
        handle.deleteOnClose = false;
        status = handle.Close();
    }
    if (status != 0) {
        ReportFitsError(status, path); // the temporary file goes with handle and target
        return false;
    }
    if (!target.Commit()) {
        ReportWriteFailure(path);
        return false;
    }
    return true;
}

bool ProbeFitsImage(const std::string &path, int &width, int &height, int &frames)
{
    FitsHandle handle;
    int naxis = 0, bitpix = 0;
    long axes[3] = {1, 1, 1};
    if (!OpenReportedImage(path, handle, naxis, axes, bitpix))
        return false;
    width = static_cast<int>(axes[0]);
    height = static_cast<int>(axes[1]);
    frames = naxis == 3 ? static_cast<int>(axes[2]) : 1;
    return true;
}

bool ReadFitsImage(const std::string &path, ImageData &image)
{
    FitsHandle handle;
    int naxis = 0, bitpix = 0;
    long axes[3] = {1, 1, 1};
    if (!OpenReportedImage(path, handle, naxis, axes, bitpix))
        return false;
    const int frames = naxis == 3 ? static_cast<int>(axes[2]) : 1;
    if (image.Empty || image.Width != axes[0] || image.Height != axes[1] || image.Frames != frames) {
        ShowFitsProblem(path, "the file changed while it was read.");
        return false;
    }
    fitsfile *file = handle.file;

    const std::string mark = ReadStringKey(file, "CCDTYPE", "");
    if (mark == FitsProgramMark) {
        constexpr const char *NotFound = "Not found.";
        image.HeaderFileName = ReadStringKey(file, "FILENAME", NotFound);
        image.Date = TextFromFitsDate(ReadStringKey(file, "DATE", NotFound));
        image.Time = ReadStringKey(file, "TIME", NotFound);
        image.Description = ReadStringKey(file, "DESCRIPT", NotFound);
        image.Filters = ReadStringKey(file, "FILTERS", NotFound);
        image.IntegrationTime = ReadStringKey(file, "INTTIME", NotFound);
        image.CCDTemperature = ReadStringKey(file, "CCDTEMPERATURE", NotFound);
        const auto clampInt = [](long v) {
            return static_cast<std::int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
        };
        image.Brightest = clampInt(ReadLongKey(file, "HIGHPIX", 0));
        image.Dimmest = clampInt(ReadLongKey(file, "LOWPIX", 0));
        image.MaxColumns = clampInt(ReadLongKey(file, "NCOLMAX", axes[0]));
        image.MaxRows = clampInt(ReadLongKey(file, "NROWMAX", axes[1]));
        image.XHi = clampInt(ReadLongKey(file, "XHI", axes[0] - 1));
        image.XLo = clampInt(ReadLongKey(file, "XLO", 0));
        image.YHi = clampInt(ReadLongKey(file, "YHI", axes[1] - 1));
        image.YLo = clampInt(ReadLongKey(file, "YLO", 0));
        image.YBin = clampInt(ReadLongKey(file, "YBIN", 1));
        image.XBin = clampInt(ReadLongKey(file, "XBIN", 1));
        image.TopDark = static_cast<float>(ReadLongKey(file, "TOPDARKLEVEL", 0));
        image.BottomDark = static_cast<float>(ReadLongKey(file, "BOTTOMDARKLEVEL", 0));
        image.OffsetLevel = static_cast<float>(ReadLongKey(file, "OFFSETLEVEL", 0));
        image.DisplayOffset = static_cast<float>(ReadLongKey(file, "DISPLAYOFFSET", 0));
        image.SkyLevel = static_cast<float>(ReadLongKey(file, "SKYLEVEL", 0));
    } else {
        // Another program's file: the header of a plain full frame, nothing kept from the image
        // that was in this record before.
        image.HeaderFileName = path;
        image.Date = image.Time = image.Description = image.Filters = "not specified";
        image.IntegrationTime = image.CCDTemperature = "0";
        image.XHi = static_cast<std::int32_t>(axes[0] - 1);
        image.XLo = 0;
        image.YHi = static_cast<std::int32_t>(axes[1] - 1);
        image.YLo = 0;
        image.XBin = image.YBin = 1;
        image.MaxColumns = static_cast<std::int32_t>(axes[0]);
        image.MaxRows = static_cast<std::int32_t>(axes[1]);
        image.TopDark = image.BottomDark = image.OffsetLevel = image.DisplayOffset = image.SkyLevel = 0.0f;
    }
    image.FileName = path;

    int status = 0;
    int equivalent = 0;
    fits_get_img_equivtype(file, &equivalent, &status);
    // The pixels go in chunks of whole rows of about a megabyte, so each chunk's extremes are
    // measured while it is still in the cache, and other types need only a chunk-sized buffer.
    const LONGLONG width = image.Width;
    const LONGLONG rows = static_cast<LONGLONG>(image.Height) * image.Frames;
    const LONGLONG chunkRows = std::max<LONGLONG>(1, FitsChunkPixels / width);
    // Every value of these types fits 16 bits unsigned: read straight into the pixel rows.
    const bool direct = equivalent == USHORT_IMG || equivalent == BYTE_IMG;
    // The usual unsigned file (this program's own): stored values with BZERO 32768. Read as stored,
    // CFITSIO puts a whole chunk straight into the rows in one read; the offset is then added here
    // in the pass that measures the extremes (the same values CFITSIO's own conversion gives, which
    // otherwise goes through a small buffer of its own a few kilobytes at a time).
    const bool offsetShorts = status == 0 && direct && OffsetShortImage(file, bitpix);
    if (offsetShorts)
        fits_set_bscale(file, 1.0, 0.0, &status);
    std::vector<int> wide;
    if (status == 0 && !direct)
        wide.resize(static_cast<std::size_t>(std::min(rows, chunkRows) * width));
    std::uint16_t low = 65535, high = 0;
    int anyNull = 0;
    for (LONGLONG row = 0; row < rows && status == 0; row += chunkRows) {
        const LONGLONG count = std::min(chunkRows, rows - row) * width;
        std::uint16_t *out = image.Rows[static_cast<int>(row)];
        std::int32_t chunkLow = 0, chunkHigh = 0;
        if (offsetShorts) {
            short blank = 0;
            fits_read_img(file, TSHORT, row * width + 1, count, &blank, reinterpret_cast<short *>(out),
                          &anyNull, &status);
            AddSignOffset(out, static_cast<std::size_t>(count), chunkLow, chunkHigh);
        } else if (direct) {
            unsigned short blank = 0;
            fits_read_img(file, TUSHORT, row * width + 1, count, &blank, out, &anyNull, &status);
            MeasureExtremes(out, static_cast<std::size_t>(count), chunkLow, chunkHigh);
        } else {
            // Read as 32-bit integers; each value keeps its low 16 bits.
            int blank = 0;
            fits_read_img(file, TINT, row * width + 1, count, &blank, wide.data(), &anyNull, &status);
            if (status == NUM_OVERFLOW) // values beyond the 32-bit range arrive clipped; keep them
                status = 0;
            for (LONGLONG i = 0; i < count; ++i)
                out[i] = static_cast<std::uint16_t>(wide[static_cast<std::size_t>(i)]);
            MeasureExtremes(out, static_cast<std::size_t>(count), chunkLow, chunkHigh);
        }
        low = std::min<std::uint16_t>(low, static_cast<std::uint16_t>(chunkLow));
        high = std::max<std::uint16_t>(high, static_cast<std::uint16_t>(chunkHigh));
    }
    if (status != 0) {
        ReportFitsError(status);
        return false;
    }
    image.Dimmest = low;
    image.Brightest = high;
    image.Palette.Assign(CurrentSettings().DefaultPalettes[0]);
    return true;
}
