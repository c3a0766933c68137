// Running a peer's command line from a test (msitools, olefile, a probe under
// Wine): what it prints on standard output, and its exit status when asked.
#pragma once

#include <cstdio>
#include <string>

inline std::string shellOutput(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int result = pclose(pipe);
    if (status)
        *status = result;
    return out;
}

// A native path as Wine names it, through drive Z:.
inline std::string zDrivePath(const std::string& native) {
    std::string out = "Z:";
    for (char c : native)
        out.push_back(c == '/' ? '\\' : c);
    return out;
}
