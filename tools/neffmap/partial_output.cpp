#include "partial_output.hpp"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "run_frame.hpp"

std::string partial_name(const std::string& final_path)
{
    const size_t slash = final_path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    return dir + "." + name + ".partial-" + std::to_string(::getpid());
}

void put_in_place(const std::string& partial_path, const std::string& final_path)
{
    if (std::rename(partial_path.c_str(), final_path.c_str()) != 0) fatal_errno(final_path.c_str(), errno);
}
