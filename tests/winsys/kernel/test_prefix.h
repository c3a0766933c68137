// A fresh QLTMSI_PREFIX and TMPDIR for one test, removed afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace winsys_test {

class TestPrefix {
  public:
    TestPrefix() {
        char pattern[] = "/tmp/winsys-test-XXXXXX";
        root_ = mkdtemp(pattern);
        std::filesystem::create_directories(root_ + "/tmp");
        setenv("QLTMSI_PREFIX", (root_ + "/prefix").c_str(), 1);
        setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
    }
    ~TestPrefix() {
        std::error_code ignored;
        // Read-only files and directories must not stop the clean-up.
        for (auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
        unsetenv("QLTMSI_PREFIX");
        unsetenv("TMPDIR");
    }
    const std::string& root() const { return root_; }
    std::string prefix() const { return root_ + "/prefix"; }
    std::string driveC() const { return root_ + "/prefix/drive_c"; }

  private:
    std::string root_;
};

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace winsys_test
