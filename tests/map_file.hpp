// A NetCDF map read back as a user's script reads it: variables as doubles with
// their _FillValue, masks, attributes and dimension names.
#pragma once

#include <gtest/gtest.h>
#include <netcdf.h>

#include <string>
#include <vector>

struct MapFile {
    int nc = -1;
    explicit MapFile(const std::string& path) { EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path; }
    ~MapFile() { nc_close(nc); }
    MapFile(const MapFile&) = delete;
    MapFile& operator=(const MapFile&) = delete;

    int var(const char* name) const
    {
        int v = -1;
        EXPECT_EQ(nc_inq_varid(nc, name, &v), NC_NOERR) << name;
        return v;
    }
    size_t size(const char* name) const
    {
        int rank = 0, dims[NC_MAX_VAR_DIMS];
        size_t n = 1;
        nc_inq_varndims(nc, var(name), &rank);
        nc_inq_vardimid(nc, var(name), dims);
        for (int d = 0; d < rank; ++d) {
            size_t len = 0;
            nc_inq_dimlen(nc, dims[d], &len);
            n *= len;
        }
        return n;
    }
    std::vector<double> values(const char* name) const
    {
        std::vector<double> v(size(name));
        EXPECT_EQ(nc_get_var_double(nc, var(name), v.data()), NC_NOERR) << name;
        return v;
    }
    // The values as stored, byte for byte.
    std::string bytes(const char* name) const
    {
        nc_type t;
        size_t one = 0;
        nc_inq_vartype(nc, var(name), &t);
        nc_inq_type(nc, t, nullptr, &one);
        std::string b(size(name) * one, '\0');
        EXPECT_EQ(nc_get_var(nc, var(name), b.data()), NC_NOERR) << name;
        return b;
    }
    double fill(const char* name) const
    {
        double f = 0;
        EXPECT_EQ(nc_get_att_double(nc, var(name), "_FillValue", &f), NC_NOERR) << name;
        return f;
    }
    double number(const char* att, int v = NC_GLOBAL) const
    {
        double x = -12345;
        EXPECT_EQ(nc_get_att_double(nc, v, att, &x), NC_NOERR) << att;
        return x;
    }
    std::vector<std::string> dims(const char* name) const
    {
        int rank = 0, ids[NC_MAX_VAR_DIMS];
        nc_inq_varndims(nc, var(name), &rank);
        nc_inq_vardimid(nc, var(name), ids);
        std::vector<std::string> names;
        for (int d = 0; d < rank; ++d) {
            char n[NC_MAX_NAME + 1] = "";
            nc_inq_dimname(nc, ids[d], n);
            names.push_back(n);
        }
        return names;
    }
};
