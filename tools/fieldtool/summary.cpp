#include "summary.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "record_access.hpp"
#include "run_error.hpp"

namespace {

void print_header(FILE* out, const char* label, const RecordHeader& h)
{
    std::fprintf(out, "%s W1=%d W2=%d W3=%d W4=%d\n", label, h.w1, h.w2, h.w3, h.w4);
}

void print_value(FILE* out, float v)
{
    char buf[32];
    const int n = shortest_text(v, buf, sizeof buf);
    std::fwrite(buf, 1, size_t(n), out);
}

} // namespace

int shortest_text(float v, char* buf, int size)
{
    const auto r = std::to_chars(buf, buf + size, v);
    return int(r.ptr - buf);
}

void print_info(const std::string& path, FILE* out)
{
    RecordInput in;
    std::vector<float> row(MAX_POINTS);
    open_record_input(in, path);
    std::vector<float> numbers;
    int64_t values = 0, missing = 0, nans = 0, pos_inf = 0, neg_inf = 0;
    RecordHeader first{}, last{}, h;
    bool w4_varies = false;
    while (read_pair(in, h, row.data())) {
        if (in.pairs_read > MAX_STEPS) fail(path, "more record pairs than the capacity of 2000");
        if (in.pairs_read == 1) first = h;
        else if (h.w4 != last.w4) w4_varies = true;
        last = h;
        values += h.w4;
        for (int32_t p = 0; p < h.w4; ++p) {
            const float v = row[p];
            if (v == MISSING_VALUE) ++missing;
            else if (std::isnan(v)) ++nans;
            else if (std::isinf(v)) ++(v > 0 ? pos_inf : neg_inf);
            else numbers.push_back(v);
        }
    }
    const int64_t count = int64_t(numbers.size());
    std::fprintf(out, "file: %s\nrecord pairs: %d\n", path.c_str(), in.pairs_read);
    if (in.pairs_read > 0) {
        print_header(out, "first header:", first);
        print_header(out, "last header: ", last);
        std::fprintf(out, "W4 varies: %s\n", w4_varies ? "yes" : "no");
    }
    std::fprintf(out, "values: %lld\n", static_cast<long long>(values));
    if (count > 0) {
        const auto [lo, hi] = std::minmax_element(numbers.begin(), numbers.end());
        const float minimum = *lo, maximum = *hi;
        // The median of an even count is the mean of the two middle values.
        std::nth_element(numbers.begin(), numbers.begin() + count / 2, numbers.end());
        const float upper = numbers[size_t(count / 2)];
        std::fputs("minimum: ", out);
        print_value(out, minimum);
        std::fputs("\nmedian: ", out);
        if (count % 2 == 1) {
            print_value(out, upper);
        } else {
            // Exact in double; usually a float too, and then shown as one.
            const double median = (double(*std::max_element(numbers.begin(), numbers.begin() + count / 2)) + upper) / 2;
            if (double(float(median)) == median) {
                print_value(out, float(median));
            } else {
                char buf[40];
                const auto r = std::to_chars(buf, buf + sizeof buf, median);
                std::fwrite(buf, 1, size_t(r.ptr - buf), out);
            }
        }
        std::fputs("\nmaximum: ", out);
        print_value(out, maximum);
        std::fputs("\n", out);
    } else {
        std::fputs("minimum: none\nmedian: none\nmaximum: none\n", out);
    }
    std::fprintf(out, "MISSING_VALUE: %lld\nNaN: %lld\n+inf: %lld\n-inf: %lld\n", static_cast<long long>(missing),
                 static_cast<long long>(nans), static_cast<long long>(pos_inf), static_cast<long long>(neg_inf));
}

void print_dump(const std::string& path, bool csv, FILE* out)
{
    RecordInput in;
    std::vector<float> row(MAX_POINTS);
    open_record_input(in, path);
    RecordHeader h;
    while (read_pair(in, h, row.data())) {
        if (csv) {
            std::fprintf(out, "%d,%d,%d,%d", h.w1, h.w2, h.w3, h.w4);
            for (int32_t p = 0; p < h.w4; ++p) {
                std::fputc(',', out);
                print_value(out, row[p]);
            }
            std::fputc('\n', out);
            continue;
        }
        std::fprintf(out, "pair %d: W1=%d W2=%d W3=%d W4=%d\n", in.pairs_read, h.w1, h.w2, h.w3, h.w4);
        for (int32_t p = 0; p < h.w4; ++p) {
            std::fputc(' ', out);
            print_value(out, row[p]);
            if (p % 8 == 7 || p == h.w4 - 1) std::fputc('\n', out);
        }
    }
}
