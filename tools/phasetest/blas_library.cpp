#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "phasetest.hpp"
#include "run_error.hpp"

namespace {

using GetText = char* (*)();
using SetThreads = void (*)(int);

Blas open_blas()
{
    // Before the library's own start-up reads it: with one thread OpenBLAS starts
    // no threads of its own. Linked with the program instead, it starts one per
    // further CPU as the program loads, and each spins for some 70 ms before it
    // sleeps, whether the phase test runs or not.
    ::setenv("OPENBLAS_NUM_THREADS", "1", 1);
    void* library = ::dlopen(OPENBLAS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) fail(OPENBLAS_LIBRARY, std::string("cannot be opened: ") + ::dlerror());
    Blas b;
    b.sgemm = reinterpret_cast<Blas::Sgemm>(::dlsym(library, "cblas_sgemm"));
    const auto set_threads = reinterpret_cast<SetThreads>(::dlsym(library, "openblas_set_num_threads"));
    const auto config = reinterpret_cast<GetText>(::dlsym(library, "openblas_get_config"));
    const auto corename = reinterpret_cast<GetText>(::dlsym(library, "openblas_get_corename"));
    if (!b.sgemm || !set_threads || !config || !corename)
        fail(OPENBLAS_LIBRARY, "lacks cblas_sgemm or OpenBLAS's own calls");
    // The library may already have been loaded, by something else, with more.
    set_threads(1);
    b.description = std::string(config()) + ", kernel " + corename();
    return b;
}

} // namespace

const Blas& single_thread_blas()
{
    // The process's one loaded library, opened on first use (thread-safely, as
    // any static is initialised) and never closed.
    static const Blas blas = open_blas();
    return blas;
}

std::string use_single_thread_blas() { return single_thread_blas().description; }
