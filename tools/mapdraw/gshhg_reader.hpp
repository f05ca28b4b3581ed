// Shorelines from the binned GSHHG files (Debian gmt-gshhg-low: binned_GSHHS_c.nc,
// _l.nc, _i.nc under /usr/share/gmt-gshhg), decoded into plain segments of
// longitude/latitude points.
//
// The files cut the world into square bins of Bin_size_in_minutes, numbered row by
// row from the row whose top edge is 90° N, each row from 0° E eastwards
// (N_bins_in_360_longitude_range bins per row). A bin's segments start at
// Id_of_first_segment_in_a_bin (N_segments_in_a_bin of them). Each segment packs
// its point count into the bits from 9 up and its level into bits 6–8 of
// Embedded_npts_levels_exit_entry_for_a_segment (1 land/sea, 2 lake, 3 island in
// a lake, 4 pond, 6 Antarctica's grounding line); its points start at
// Id_of_first_point_in_a_segment and are offsets from the bin's south-west corner
// in 1/65535 of the bin's side, stored as signed shorts that hold unsigned values.
//
// Antarctica has two shorelines. In the c, l and i files of GSHHG 2.3.7 its ice
// front (the seaward edge of the ice shelves, the Ross Ice Shelf's at 78° S) is
// level 1 with Embedded_ANT_flag 1, and its grounding line (where the ice leaves
// the bed, 85° S behind the Ross Ice Shelf) is level 6 with the flag 0. Maps
// draw level 1, so Antarctica along its ice front.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CoastPoint {
    double lon, lat; // degrees; lon in the bin's own 0 … 360 range
};

struct CoastSegment {
    int32_t bin;          // the bin it lies in
    int level;            // 1 land/sea, 2 lake, 3 island in a lake, 4 pond, 6 grounding line
    int64_t first_point;  // into CoastData::points
    int64_t point_count;
};

struct CoastData {
    double bin_degrees = 0;  // side of a bin
    int32_t bins_per_row = 0;
    int32_t bin_rows = 0;
    std::vector<CoastSegment> segments; // in bin order
    std::vector<CoastPoint> points;
};

inline constexpr int LEVEL_LAND_SEA = 1;

// The south-west corner of a bin, in degrees (longitude 0 … 360).
CoastPoint bin_south_west(const CoastData& coast, int32_t bin);

// Reads a whole binned GSHHG file. Any netCDF failure, or counts that do not add
// up, ends in RunError naming the file.
CoastData read_gshhg(const std::string& path);
