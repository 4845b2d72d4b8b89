#pragma once
// ImageData: the one image record. A 16-bit multi-frame pixel matrix with its header (texts,
// levels, sensor geometry, selection, display settings), its own false-colour palette and an RGBA
// display buffer. Held by value inside windows, threads and other records; it is never copied
// implicitly: move it, or copy it explicitly with Assign.
//
// Invariants: Empty is false exactly when Rows and Rgba exist and Width, Height, Frames describe
// them; Frames is at least 1; pixel (x, y) of frame f is Rows[f*Height + y][x].
#include "acquisition_header.h"
#include "matrix.h"
#include "palette.h"

#include <cstdint>
#include <string>
#include <vector>

// OriginFormat / save-format codes.
enum ImageFormat : std::int32_t {
    FormatNative = 0, // own "kvr" format
    FormatFits = 1,
    FormatBmp = 2,
    FormatPng = 3,
};

class ImageData
{
public:
    // Defaults of every field; Palette is a copy of CurrentSettings().DefaultPalettes[0]; no storage.
    ImageData();
    ~ImageData() = default;
    ImageData(ImageData &&other);
    ImageData &operator=(ImageData &&other);
    ImageData(const ImageData &) = delete;
    ImageData &operator=(const ImageData &) = delete;

    bool Empty = true;            // no pixel storage allocated
    bool DarkApplied = false;     // dark-frame correction has been applied
    bool FlatApplied = false;     // flat-field correction has been applied
    bool SelectionShown = false;  // the selection is drawn in the image window
    bool SelectionIsLine = false; // the selection is a line (cross-section), not a rectangle
    bool Modified = false;        // changed since loaded or saved
    bool LogDisplay = false;      // shown with the logarithmic display scale

    std::string FileName;       // full path of the file the image came from or was saved to
    std::string Spare1;         // not used
    std::string HeaderFileName; // file name recorded in the image's own header
    std::string Date;           // creation date text (GmtDateTimeText(false))
    std::string Time;           // creation time text (GmtDateTimeText(true))
    std::string Description;
    std::string Filters;
    std::string IntegrationTime = "0.000e+00"; // seconds, as text
    std::string Spare2;                        // not used
    std::string CCDTemperature;                // sensor temperature as text

    float Gain = 1.0f;       // display scale (multiplier of the display mapping)
    float TopDark = 0.0f;    // top dark level from the readout
    float BottomDark = 0.0f; // bottom dark level from the readout
    float SkyLevel = 0.0f;
    float OffsetLevel = 0.0f;           // offset (bias) level from the readout
    float DisplayOffset = 0.0f;         // display black level, subtracted before the display mapping
    float Zoom = 1.0f;                  // display zoom factor
    float ShiftX = 0.0f, ShiftY = 0.0f; // composite layer shift in pixels
    float Angle = 0.0f;                 // composite layer rotation angle
    float RotationCentreX = 0.0f, RotationCentreY = 0.0f; // composite layer rotation centre

    std::int32_t CurrentFrame = 0; // frame shown (0-based)
    std::int32_t Reserved1 = -1, Reserved2 = -1;
    std::int32_t OriginFormat = FormatNative; // format loaded from (ImageFormat)
    std::int32_t Brightest = 65535;           // brightest pixel value (display white level)
    std::int32_t Dimmest = 0;                 // dimmest pixel value
    std::int32_t Width = 0;                   // columns
    std::int32_t Height = 0;                  // rows of one frame
    std::int32_t Frames = 1;
    std::int32_t MaxColumns = 0, MaxRows = 0;                // sensor size
    std::int32_t XHi = 0, XLo = 0, YHi = 0, YLo = 0;         // sub-frame limits on the sensor
    std::int32_t YBin = 0, XBin = 0;                         // binning
    std::int32_t SelX0 = 0, SelY0 = 0, SelX1 = 0, SelY1 = 0; // selection corners in image pixels
    std::uint32_t TimeStamp = 2147483647;                    // identifies the image's window (equals its tag)

    UShortMatrix Rows; // Height*Frames rows of Width columns; frame f is rows f*Height ..
    PPalette Palette;  // the image's own palette
    // Width*Height*Frames pixels of 4 bytes (R, G, B, A) in the order of Rows, one flat block from
    // the pixel-block path; A is 255 for every pixel.
    PixelVector<std::uint8_t> Rgba;

    // Storage for width x height x frames. Nothing happens when the image is not empty and the size
    // is unchanged (the pixels stay); otherwise the old storage is freed and new storage allocated
    // (pixel values undefined, every alpha byte 255). A size with a zero or negative term, too
    // many rows, or more than the memory can hold leaves the image empty and freed and returns
    // false.
    bool Allocate(int width, int height, int frames);
    // Allocate for an image that is empty, taking `display` (swapped in) as the display buffer when
    // it holds exactly the width x height x frames x 4 bytes needed, so that its pages need no
    // clearing; it must be another image's display buffer (every alpha byte 255). Otherwise, and on
    // failure, display is left as it was.
    bool AllocateWithDisplay(int width, int height, int frames, PixelVector<std::uint8_t> &display);
    // Releases Rows and Rgba: Empty, Width = Height = 0, Frames = 1. Harmless on an empty image.
    void Free();
    // Deep copy of the source (flags, texts, every header number, selection, TimeStamp, pixels and
    // palette; not SelectionIsLine, Spare1 or the Rgba contents). From an empty source the
    // destination ends empty and freed, with the header still copied; so it does, after a message,
    // when the memory cannot hold the copy.
    void Assign(const ImageData &source);
    // Copies all Height*Frames x Width pixels to / from a caller's matrix of at least that size;
    // false (nothing copied) when it is smaller or the image is empty.
    bool CopyPixelsTo(UShortMatrix &rows) const;
    bool CopyPixelsFrom(const UShortMatrix &rows);
    // Copies the inclusive rectangle x0..x1, y0..y1 of Rows into rows[y - y0][x - x0]; false
    // (nothing copied) when the rectangle is outside the pixel rows or the matrix is too small.
    bool CopyRegionTo(UShortMatrix &rows, int x0, int x1, int y0, int y1) const;
    // Copies an acquisition header into the image: the four levels, Brightest, Dimmest, the sensor
    // size, the sub-frame and the binning. It does not allocate: Width and Height are taken only
    // when they describe the allocated storage; otherwise they stay and the result is false.
    bool SetHeader(const AcquisitionHeader &header);
    // After an edit of the pixels: Modified is set, and Brightest and Dimmest are measured again
    // from frame 0 (the frame a file holds), so a save describes the pixels it writes.
    void PixelsEdited();
    // Load and save through the image file dispatch, LoadImageFile / SaveImageFile (format:
    // ImageFormat). True on success; failures are reported by the dispatch.
    bool SaveToFile(const std::string &path, int format);
    bool LoadFromFile(const std::string &path);

    // Row y of frame f (no checks).
    std::uint16_t *FrameRow(int frame, int y) { return Rows[frame * Height + y]; }
    const std::uint16_t *FrameRow(int frame, int y) const { return Rows[frame * Height + y]; }
    // Pixels of one frame (Width*Height, row order) and its RGBA bytes.
    std::uint16_t *FramePixels(int frame) { return Rows[frame * Height]; }
    const std::uint16_t *FramePixels(int frame) const { return Rows[frame * Height]; }
    std::uint8_t *FrameRgba(int frame)
    {
        return Rgba.data() + static_cast<std::size_t>(frame) * static_cast<std::size_t>(Width) * Height * 4;
    }
    const std::uint8_t *FrameRgba(int frame) const
    {
        return Rgba.data() + static_cast<std::size_t>(frame) * static_cast<std::size_t>(Width) * Height * 4;
    }
    std::size_t PixelCount() const
    {
        return static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height) *
               static_cast<std::size_t>(Frames);
    }

private:
    void CopyHeaderFrom(const ImageData &source);
    bool AllocateStorage(int width, int height, int frames, PixelVector<std::uint8_t> *display);
    void TakeFrom(ImageData &other);
};
