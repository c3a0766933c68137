// A compound file as found on disk: header, allocation tables and directory,
// checked so that no chain or link can lead outside the file or round in a
// circle. Stream bytes are read on demand through sector chains.
#pragma once

#include "storage/compound_file.h"
#include "storage/native_file.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace winsys::cfb {

struct DirEntry {
    std::u16string name;
    uint8_t type = 0;
    uint32_t left = 0, right = 0, child = 0;
    GUID clsid{};
    uint32_t stateBits = 0;
    uint64_t created = 0, modified = 0;
    uint32_t start = 0;
    uint64_t size = 0;
};

class Image : public std::enable_shared_from_this<Image> {
public:
    // Parses the file. STG_E_FILEALREADYEXISTS when it is not a compound file,
    // STG_E_INVALIDHEADER / STG_E_DOCFILECORRUPT when it is a broken one.
    static HRESULT load(std::shared_ptr<NativeFile> file, std::shared_ptr<Image>* out);

    Version version() const { return version_; }
    const std::shared_ptr<NativeFile>& file() const { return file_; }
    const std::vector<DirEntry>& entries() const { return entries_; }

    // A reader of the stream described by directory entry `index`.
    std::shared_ptr<const ByteSource> streamSource(uint32_t index) const;

    // The regular sectors holding `length` bytes (rounded up to whole
    // sectors) of the chain that starts at `start`; a chain that leaves the
    // file, ends early or meets itself gives STG_E_DOCFILECORRUPT.
    HRESULT regularChain(uint32_t start, uint64_t length, std::vector<uint32_t>* out) const;
    HRESULT miniChain(uint32_t start, uint64_t length, std::vector<uint32_t>* out) const;

    uint32_t sectorShift() const { return shift_; }
    uint64_t sectorOffset(uint32_t sector) const { return (uint64_t(sector) + 1) << shift_; }
    const std::vector<uint32_t>& miniStreamSectors() const { return miniStreamSectors_; }

private:
    explicit Image(std::shared_ptr<NativeFile> file) : file_(std::move(file)) {}
    HRESULT parse();
    HRESULT readSector(uint32_t sector, uint8_t* buffer) const;
    // Follows a chain of the FAT until its end, for tables whose length the
    // header does not give reliably (the directory).
    HRESULT openEndedChain(uint32_t start, std::vector<uint32_t>* out) const;

    std::shared_ptr<NativeFile> file_;
    Version version_ = Version::V3;
    uint32_t shift_ = 9;
    uint32_t sectorSize_ = 512;
    uint64_t sectorCount_ = 0;  // sectors present (even partly) in the file
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<uint32_t> miniStreamSectors_;
    uint64_t miniStreamSize_ = 0;
    std::vector<DirEntry> entries_;
};

}  // namespace winsys::cfb
