// Shared set-up of the cabinet layer's tests: a fresh prefix per test, files
// made under C:\ and their Windows paths in wide and narrow form, and a
// decompression run through the library's own callbacks.
#pragma once

#include <gtest/gtest.h>

#include "cabinet/cabinet_binding.h"
#include "cabinet/cabinet_callbacks.h"
#include "platform/platform_calls.h"
#include "winsys/kernel/test_prefix.h"

#include <cstring>
#include <filesystem>
#include <string>

namespace cabinet_test {

using WideString = std::basic_string<WCHAR>;

inline WideString Wide(const std::string& utf8) {
    WideString wide(utf8.size() + 1, 0);
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}

class CabinetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectPlatformCalls(0);
        extractDestination[0] = 0;
    }
    void TearDown() override { cabinetModuleName = "CABINET"; }

    // The native path of C:\<relative>.
    std::string Native(const std::string& relative) const {
        return prefix_.driveC() + "/" + relative;
    }
    // C:\<relative> with backslashes.
    static std::string Windows(std::string relative) {
        for (char& c : relative) {
            if (c == '/') {
                c = '\\';
            }
        }
        return "C:\\" + relative;
    }
    std::string MakeFile(const std::string& relative, const std::string& content) {
        std::filesystem::create_directories(std::filesystem::path(Native(relative)).parent_path());
        winsys_test::writeFile(Native(relative), content);
        return Windows(relative);
    }
    std::string MakeDirectory(const std::string& relative) {
        std::filesystem::create_directories(Native(relative));
        return Windows(relative) + "\\";
    }
    bool Exists(const std::string& relative) const {
        return std::filesystem::exists(Native(relative));
    }
    std::string Read(const std::string& relative) const {
        return winsys_test::readFile(Native(relative));
    }

    // Extracts `cabinet` (a Windows path) into `directory` (ending in "\")
    // through the decompressor binding and FdiNotify; the result of FDICopy,
    // or FALSE when no context could be made.
    static BOOL Extract(const std::string& cabinet, const std::string& directory) {
        ERF error{};
        const HFDI context =
            CreateDecompressor(CabAlloc, CabFree, FdiOpenFile, FdiReadFile, FdiWriteFile,
                               FdiCloseFile, FdiSeekFile, cpu80386, &error);
        if (context == nullptr) {
            return FALSE;
        }
        const size_t slash = cabinet.rfind('\\');
        std::string name = cabinet.substr(slash + 1);
        std::string path = cabinet.substr(0, slash + 1);
        std::strncpy(extractDestination, directory.c_str(), sizeof extractDestination - 1);
        const BOOL copied =
            DecompressorCopy(context, name.data(), path.data(), 0, FdiNotify, nullptr, nullptr);
        EXPECT_TRUE(DestroyDecompressor(context));
        return copied;
    }

    winsys_test::TestPrefix prefix_;
};

}  // namespace cabinet_test
