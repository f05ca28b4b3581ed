// Map pictures for a paper or a talk: one grid of values drawn in colour, with
// optional stippling, coastlines, latitude/longitude labels, a title and
// subtitle, and a labelled colour bar, rendered by cairo into the bytes of a PNG,
// SVG or PDF file. The library never writes the file: the tools write the bytes
// through their own output code.
//
// Use:
//     const PictureFormat format = picture_format_of(path);   // before any work
//     MapPicture map;                                         // fill in the grid …
//     const RenderedPicture pic = render_map(map, format, path);
//     for (const std::string& note : pic.notes) …             // main prints each on stderr
//     write pic.bytes to path
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class PictureFormat { png, svg, pdf };

// The format named by the path's extension (.png, .svg, .pdf, in any case);
// anything else ends in RunError naming the path.
PictureFormat picture_format_of(const std::string& path);

struct PictureSize {
    int width = 0, height = 0; // pixels (PNG) or points (SVG, PDF); 0 × 0: the default
};

inline constexpr int PICTURE_SIDE_MIN = 64;
inline constexpr int PICTURE_SIDE_MAX = 32767;          // cairo's largest image
inline constexpr int64_t PNG_PIXELS_MAX = int64_t(1) << 27; // 512 MiB of 32-bit pixels

// "WxH" (also "W×H"), each side PICTURE_SIDE_MIN … PICTURE_SIDE_MAX; otherwise
// RunError naming "--size".
PictureSize parse_picture_size(const std::string& text);

// A PNG of more than PNG_PIXELS_MAX pixels ends in RunError naming path; the
// tools call this with --size before any work.
void check_picture_size(PictureFormat format, PictureSize size, const std::string& path);

enum class AxisKind { plain, longitude, latitude }; // longitude: degrees_east, latitude: degrees_north

// One edge of the grid: the coordinates of the cells' centres (one per column,
// or one per row) and what they are. Without centres the cells are numbered
// from 1 along that edge.
struct MapAxis {
    const double* centres = nullptr;
    AxisKind kind = AxisKind::plain;
};

// sequential: low to high, dark blue to pale yellow. diverging: blue below 0,
// white at 0, red above, as strong at -v as at +v. p_log: p-values on a log
// scale, dark red for the smallest, pale for p = 1, with alpha marked on the bar.
enum class ColourScale { sequential, diverging, p_log };

// RunError naming "--range" unless lo < hi, both finite, and 0 < lo for p_log;
// the tools call it with --range before any work.
void check_colour_range(ColourScale scale, double lo, double hi);

// "name (units)", or the name alone when the units are unknown ("") or "1".
std::string with_units(const std::string& name, const std::string& units);

struct MapPicture {
    // columns × rows values, row-major, row 0 first. MISSING_VALUE and NaN are
    // missing (grey); ±inf take the colour of the end they lie beyond.
    const float* values = nullptr;
    int32_t columns = 0, rows = 0;
    // Same shape; nonzero cells get a dot. nullptr: no stippling.
    const unsigned char* stipple = nullptr;

    MapAxis column_axis, row_axis;
    // Where row 0 goes when the rows are not latitudes (latitudes always put
    // north up, as longitudes put east to the right).
    bool row0_on_top = false;

    ColourScale scale = ColourScale::sequential;
    // The colour range. Without it: sequential, the data's range; diverging,
    // symmetric about 0 with the largest |value| rounded up at its first
    // significant digit (0.67 → ±0.7, 0.043 → ±0.05); p_log, 1e-4 … 1.
    bool fixed_range = false;
    double lo = 0, hi = 0;     // lo < hi; p_log: 0 < lo
    double alpha = 0.05;       // marked on a p_log bar; 0: not marked

    std::string title, subtitle;    // empty: left out
    std::string bar_name, bar_units; // the bar's label, "name (units)"; units "1" or "" are left out
    std::string missing_legend = "missing"; // shown beside a grey swatch when some cell is missing
    std::string stipple_legend;             // shown beside a dot when stipple is given

    PictureSize size;                 // 0 × 0: the default, about 1024 units along the map's longer side
    bool coastlines = true;           // drawn only when the columns are longitudes and the rows latitudes
    std::string coast_directory = "/usr/share/gmt-gshhg";
};

struct RenderedPicture {
    std::vector<unsigned char> bytes; // the whole file
    // Things the user should hear about, one line each, for main to print on
    // standard error: coastline data that could not be found, coordinates that
    // could not be used.
    std::vector<std::string> notes;
};

// Draws the map into the bytes of a file of the given format. A grid, range or
// size that cannot be drawn ends in RunError naming path (only used in messages).
RenderedPicture render_map(const MapPicture& map, PictureFormat format, const std::string& path);
