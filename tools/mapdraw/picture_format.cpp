#include <cctype>
#include <string>

#include "map_picture.hpp"
#include "run_error.hpp"

PictureFormat picture_format_of(const std::string& path)
{
    const size_t slash = path.rfind('/'), dot = path.rfind('.');
    std::string ext;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        for (char c : path.substr(dot + 1)) ext += char(std::tolower((unsigned char)c));
    if (ext == "png") return PictureFormat::png;
    if (ext == "svg") return PictureFormat::svg;
    if (ext == "pdf") return PictureFormat::pdf;
    fail(path, "a picture's name must end in .png, .svg or .pdf, which choose its format");
}

PictureSize parse_picture_size(const std::string& text)
{
    // Digits, then x, X or ×, then digits.
    size_t i = 0;
    auto number = [&](int& out) {
        const size_t start = i;
        long long v = 0;
        while (i < text.size() && std::isdigit((unsigned char)text[i]) && v <= PICTURE_SIDE_MAX) v = v * 10 + (text[i++] - '0');
        out = v > PICTURE_SIDE_MAX ? PICTURE_SIDE_MAX + 1 : int(v);
        return i > start && (i == text.size() || !std::isdigit((unsigned char)text[i]));
    };
    PictureSize s;
    bool ok = number(s.width);
    if (ok && text.compare(i, 1, "x") == 0) i += 1;
    else if (ok && text.compare(i, 1, "X") == 0) i += 1;
    else if (ok && text.compare(i, 2, "\u00d7") == 0) i += 2;
    else ok = false;
    ok = ok && number(s.height) && i == text.size();
    if (!ok) fail("--size", "'" + text + "' is not WIDTHxHEIGHT, such as 1200x700");
    if (s.width < PICTURE_SIDE_MIN || s.height < PICTURE_SIDE_MIN || s.width > PICTURE_SIDE_MAX || s.height > PICTURE_SIDE_MAX)
        fail("--size", "each side must be " + std::to_string(PICTURE_SIDE_MIN) + " to " + std::to_string(PICTURE_SIDE_MAX));
    return s;
}

void check_picture_size(PictureFormat format, PictureSize size, const std::string& path)
{
    if (format == PictureFormat::png && int64_t(size.width) * size.height > PNG_PIXELS_MAX)
        fail(path, "a PNG of " + std::to_string(size.width) + " x " + std::to_string(size.height) +
                       " pixels would take more than 512 MiB; choose a smaller --size or an SVG or PDF");
}
