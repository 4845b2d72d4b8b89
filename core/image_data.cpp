#include "image_data.h"

#include "settings.h"
#include "ui_hooks.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

ImageData::ImageData() : Palette(CurrentSettings().DefaultPalettes[0])
{
    Palette.Dirty = 1; // as after PPalette::Assign
}

ImageData::ImageData(ImageData &&other) : Palette(std::move(other.Palette))
{
    TakeFrom(other);
}

ImageData &ImageData::operator=(ImageData &&other)
{
    if (this != &other) {
        Palette = std::move(other.Palette);
        TakeFrom(other);
    }
    return *this;
}

void ImageData::TakeFrom(ImageData &other)
{
    CopyHeaderFrom(other);
    SelectionIsLine = other.SelectionIsLine;
    Spare1 = std::move(other.Spare1);
    Rows = std::move(other.Rows);
    Rgba = std::move(other.Rgba);
    other.Free(); // the source is left a valid empty image
}

void ImageData::CopyHeaderFrom(const ImageData &s)
{
    Empty = s.Empty;
    DarkApplied = s.DarkApplied;
    FlatApplied = s.FlatApplied;
    SelectionShown = s.SelectionShown;
    LogDisplay = s.LogDisplay;
    Modified = s.Modified;
    FileName = s.FileName;
    HeaderFileName = s.HeaderFileName;
    Date = s.Date;
    Time = s.Time;
    Description = s.Description;
    Filters = s.Filters;
    IntegrationTime = s.IntegrationTime;
    Spare2 = s.Spare2;
    CCDTemperature = s.CCDTemperature;
    Gain = s.Gain;
    TopDark = s.TopDark;
    BottomDark = s.BottomDark;
    SkyLevel = s.SkyLevel;
    OffsetLevel = s.OffsetLevel;
    DisplayOffset = s.DisplayOffset;
    Zoom = s.Zoom;
    ShiftX = s.ShiftX;
    ShiftY = s.ShiftY;
    Angle = s.Angle;
    RotationCentreX = s.RotationCentreX;
    RotationCentreY = s.RotationCentreY;
    CurrentFrame = s.CurrentFrame;
    Reserved1 = s.Reserved1;
    Reserved2 = s.Reserved2;
    OriginFormat = s.OriginFormat;
    Brightest = s.Brightest;
    Dimmest = s.Dimmest;
    Width = s.Width;
    Height = s.Height;
    Frames = s.Frames;
    MaxColumns = s.MaxColumns;
    MaxRows = s.MaxRows;
    XHi = s.XHi;
    XLo = s.XLo;
    YHi = s.YHi;
    YLo = s.YLo;
    YBin = s.YBin;
    XBin = s.XBin;
    SelX0 = s.SelX0;
    SelY0 = s.SelY0;
    SelX1 = s.SelX1;
    SelY1 = s.SelY1;
    TimeStamp = s.TimeStamp;
}

bool ImageData::Allocate(int width, int height, int frames)
{
    if (!Empty && width == Width && height == Height && frames == Frames)
        return true; // the acquisition re-reads into the same image every frame: keep the storage
    return AllocateStorage(width, height, frames, nullptr);
}

bool ImageData::AllocateWithDisplay(int width, int height, int frames, PixelVector<std::uint8_t> &display)
{
    return AllocateStorage(width, height, frames, &display);
}

bool ImageData::AllocateStorage(int width, int height, int frames, PixelVector<std::uint8_t> *display)
{
    Free();
    if (width <= 0 || height <= 0 || frames <= 0)
        return false;
    const long long rowCount = static_cast<long long>(height) * frames;
    if (rowCount > INT_MAX)
        return false;
    // The size may come from a damaged file header: running out of memory is a refusal the caller
    // reports ("Not enough memory ..."), not an exception through an event handler.
    try {
        Rows.Allocate(static_cast<int>(rowCount), width);
        const std::size_t pixels = static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(width);
        if (display && display->size() == pixels * 4) {
            Rgba.swap(*display);
        } else {
            // Every byte 255: alpha must be 255, the colours are rendered before they are shown.
            Rgba.resize(pixels * 4);
            FillPixelBlock(Rgba.data(), 255, Rgba.size());
        }
    } catch (const std::bad_alloc &) {
        Free();
        return false;
    }
    Width = width;
    Height = height;
    Frames = frames;
    Empty = false;
    return true;
}

void ImageData::Free()
{
    Rows.Free();
    PixelVector<std::uint8_t>().swap(Rgba);
    Empty = true;
    Width = 0;
    Height = 0;
    Frames = 1;
}

void ImageData::Assign(const ImageData &source)
{
    if (this == &source)
        return;
    bool holdsPixels = !source.Empty && !source.Rows.IsEmpty();
    if (holdsPixels && !Allocate(source.Width, source.Height, source.Frames)) {
        Ui().ShowMessage("Korvi", "Not enough memory to copy the image.", MessageButtons::Ok,
                         MessageIcon::Error);
        holdsPixels = false;
    }
    CopyHeaderFrom(source);
    if (holdsPixels)
        CopyUShortMatrix(source.Rows, Rows, Width, Height * Frames);
    else
        Free(); // an empty source, or no memory for the copy: a valid empty image with the source's header
    Palette = source.Palette; // the whole palette, its dirty byte included
}

bool ImageData::CopyPixelsTo(UShortMatrix &rows) const
{
    return !Empty && CopyUShortMatrix(Rows, rows, Width, Height * Frames);
}

bool ImageData::CopyPixelsFrom(const UShortMatrix &rows)
{
    return !Empty && CopyUShortMatrix(rows, Rows, Width, Height * Frames);
}

void ImageData::PixelsEdited()
{
    Modified = true;
    if (Empty)
        return;
    const std::uint16_t *pixels = FramePixels(0);
    const std::size_t count = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height);
    std::uint16_t low = 65535, high = 0;
    for (std::size_t i = 0; i < count; ++i) {
        low = std::min(low, pixels[i]);
        high = std::max(high, pixels[i]);
    }
    Dimmest = low;
    Brightest = high;
}

bool ImageData::CopyRegionTo(UShortMatrix &rows, int x0, int x1, int y0, int y1) const
{
    if (Empty || x0 < 0 || y0 < 0 || x1 < x0 || y1 < y0 || x1 >= Width || y1 >= Height * Frames)
        return false;
    const int columns = x1 - x0 + 1;
    if (rows.Rows() < y1 - y0 + 1 || rows.Columns() < columns)
        return false;
    for (int y = y0; y <= y1; ++y)
        std::memcpy(rows[y - y0], Rows[y] + x0, static_cast<std::size_t>(columns) * sizeof(std::uint16_t));
    return true;
}

bool ImageData::SetHeader(const AcquisitionHeader &header)
{
    TopDark = header.TopDarkLevel;
    BottomDark = header.BottomDarkLevel;
    SkyLevel = header.SkyLevel;
    OffsetLevel = header.OffsetLevel;
    Brightest = header.Maximum;
    Dimmest = header.Minimum;
    MaxColumns = header.SensorColumns;
    MaxRows = header.SensorRows;
    XHi = header.XHigh;
    XLo = header.XLow;
    YHi = header.YHigh;
    YLo = header.YLow;
    YBin = header.YBinning;
    XBin = header.XBinning;
    // Columns and rows must describe the storage the readout was read into; a header that says
    // otherwise would make every later pixel loop run past the block.
    return !Empty && header.Columns == Width && header.Rows == Height;
}
