// An output is written under a temporary name beside its final one and renamed
// at the end, so a failed run never leaves a partial file and an existing one
// stays as it was until then.
#pragma once

#include <string>

// "DIR/.NAME.partial-PID" for "DIR/NAME": same directory, so the rename is atomic.
std::string partial_name(const std::string& final_path);

// Renames the finished output; fatal when the system refuses.
void put_in_place(const std::string& partial_path, const std::string& final_path);
