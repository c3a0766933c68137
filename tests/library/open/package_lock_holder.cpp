// Another process for the package lock's tests: takes the lock of the path
// it is given and either reports whether it got it (`try`) or keeps it until
// it is killed (`hold`), saying "held" on its output once it has it.
#include "platform/package_lock.h"
#include "platform/platform_calls.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "try") != 0 && std::strcmp(argv[1], "hold") != 0)) {
        std::fprintf(stderr, "usage: package_lock_holder try|hold PACKAGE-PATH\n");
        return 2;
    }
    FillPlatformCalls();
    std::u16string path;
    for (const char* c = argv[2]; *c != 0; ++c) {
        path.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
    }
    PackageLock lock(path.c_str(), 0);
    if (!lock.held()) {
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    if (std::strcmp(argv[1], "hold") == 0) {
        Sleep(60000);
    }
    return 0;
}
