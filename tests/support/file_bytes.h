// A file's bytes read and written whole, for the tests that set up and check the files
// the programs work on.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// "" when the file cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
