// ImageData's load and save go through the image file dispatch. Kept apart from image_data.cpp so
// that code using only the record does not pull in the file formats.
#include "image_data.h"
#include "image_file.h"

bool ImageData::SaveToFile(const std::string &path, int format)
{
    return SaveImageFile(path, format, *this);
}

bool ImageData::LoadFromFile(const std::string &path)
{
    return LoadImageFile(path, *this);
}
