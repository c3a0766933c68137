// Unpacking the previous cabinet through the system's cabinet library into a
// fresh temporary directory. The cabinet file itself is moved into that
// directory for the unpacking and moved back afterwards in every outcome.
#include "cabinet/extract_cabinet.h"

#include "cabinet/cabinet_binding.h"
#include "cabinet/cabinet_callbacks.h"
#include "platform/narrow_text.h"
#include "platform/platform_calls.h"
#include "platform/temporary_files.h"
#include "platform/wide_text.h"

#include <array>

namespace {

using Text = std::basic_string<WCHAR>;

// A fresh directory named like a temporary file, with '\' appended.
void MakeExtractDirectory(CabinetWorkArea& cabinet) {
    WidePath tempDirectory{};
    cabinet.extractDirectory[0] = 0;
    platformCalls.tempPath(static_cast<DWORD>(tempDirectory.size()), tempDirectory.data());
    if (MakeTemporaryFile(tempDirectory.data(), TEXT("qlt"), cabinet.extractDirectory.data()) ==
        0) {
        cabinet.extractDirectory[0] = 0;
        return;
    }
    platformCalls.deleteFile(cabinet.extractDirectory.data());
    platformCalls.createDirectory(cabinet.extractDirectory.data(), nullptr);
    const size_t length = std::char_traits<WCHAR>::length(cabinet.extractDirectory.data());
    if (length + 1 < cabinet.extractDirectory.size()) {
        cabinet.extractDirectory[length] = TEXT('\\');
        cabinet.extractDirectory[length + 1] = 0;
    }
}

}  // namespace

UINT ExtractCabinet(CabinetWorkArea& cabinet, LPCWSTR cabinetPath) {
    ERF error{};
    const HFDI context =
        CreateDecompressor(CabAlloc, CabFree, FdiOpenFile, FdiReadFile, FdiWriteFile, FdiCloseFile,
                           FdiSeekFile, cpu80386, &error);
    if (context == nullptr) {
        return 1;
    }
    MakeExtractDirectory(cabinet);
    const Text original(cabinetPath);
    const size_t separator = original.rfind(TEXT('\\'));
    const Text cabinetName = separator == Text::npos ? original : original.substr(separator + 1);
    const Text directory(cabinet.extractDirectory.data());
    if (directory.empty()) {
        DestroyDecompressor(context);
        return 1;
    }
    const Text moved = directory + cabinetName;
    platformCalls.moveFile(original.c_str(), moved.c_str());

    std::array<char, kExtractedPathBytes> narrowName{};
    BOOL copied = FALSE;
    if (ToAnsi(directory.c_str(), extractDestination, static_cast<int>(kExtractDestinationBytes)) &&
        ToAnsi(cabinetName.c_str(), narrowName.data(), static_cast<int>(narrowName.size()))) {
        cabinet.extractedFiles.clear();
        copied = DecompressorCopy(context, narrowName.data(), extractDestination, 0, FdiNotify,
                                  nullptr, &cabinet.extractedFiles);
    }
    const BOOL destroyed = DestroyDecompressor(context);
    platformCalls.moveFile(moved.c_str(), original.c_str());
    return copied && destroyed ? 0 : 1;
}
