#include <cblas.h>

#include <string>

#include "phasetest.hpp"

std::string use_single_thread_blas()
{
    openblas_set_num_threads(1);
    return std::string(openblas_get_config()) + ", kernel " + openblas_get_corename();
}
