#include "imaging/PNG_IO.h"

#include <sys/stat.h>

#include <png.h>

#include <cerrno>
#include <cstring>
#include <exception>

bool LoadPNGGraphic(TExtBitmap* graphic, const std::string& fileName, bool forceColor, bool keepSize, std::string* why)
{
    struct stat info{};
    if (!graphic)
        return false;
    if (::stat(fileName.c_str(), &info) != 0) {
        if (why)
            *why = std::strerror(errno);
        return false;
    }
    try {
        TPngImage png;
        png.ForceColor = forceColor;
        png.LoadFromFile(fileName);
        if (!keepSize) {
            graphic->SetHeight(0);
            graphic->SetWidth(0);
        }
        png.AssignToBitmap(*graphic, 0, 0);
        return true;
    } catch (const std::exception& e) {
        if (why)
            *why = e.what();
        return false;
    } catch (...) {
        return false;
    }
}

bool ReadPNGHeader(const std::string& fileName, int& width, int& height, bool& eightBit)
{
    try {
        TPngImage png;
        png.ForceColor = false;
        png.LoadHeaderFromFile(fileName);
        width = png.Width;
        height = png.Height;
        // As AssignToBitmap places one or two samples in an 8-bit image.
        eightBit = png.BytesPerPixel >= 1 && png.BytesPerPixel <= 2;
        return true;
    } catch (...) {
        return false;
    }
}

bool LoadPNGMaskFromStream(TExtBitmap& image, std::istream& stream, bool forceColor)
{
    TPngImage png;
    png.ForceColor = forceColor;
    png.LoadFromStream(stream);
    image.SetHeight(0);
    image.SetWidth(0);
    png.AssignToBitmap(image, 0, 0);
    return true;
}

bool SavePNGWithText(const TExtBitmap& bitmap, const std::string& fileName, const std::string& author,
                     const std::string& description, const std::string& software, const std::string& title,
                     const TPngProgressEvent& progress)
{
    TPngImage png;
    png.AssignFromBitmap(bitmap);
    png.CompressionLevel = 4;
    png.Filters = PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH;
    png.Author = author;
    png.Description = description;
    png.Software = software;
    png.Title = title;
    png.OnProgress = progress;
    png.SaveToFile(fileName);
    return true;
}
