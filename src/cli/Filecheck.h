#pragma once
#include <string>

namespace tolm::cli {

// True when path is a regular file this process can read; else whyNot says
// what is wrong ("no such file", "is a directory", "permission denied", ...).
bool CanReadFile(const std::string& path, std::string& whyNot);

}  // namespace tolm::cli
