// Compound files (OLE structured storage) for winsys: the storage layer under
// the Windows Installer database engine and the structured-storage API.
//
// A CompoundFile is the whole directory tree of one file held in memory
// (names, types, class ids, sizes and where each stream's bytes live); stream
// contents stay in the file and are read only when asked for. Changes are kept
// in memory (small streams) or in an unlinked temporary file (large streams)
// until commit(), which writes a complete new file beside the original and
// renames it into place, so a crash or a full disk leaves the old file whole.
//
// Every call returns an HRESULT: S_OK or an STG_E_* code from winerror.h; no
// exception leaves this interface. One CompoundFile is not safe for concurrent
// mutation; stream readers may be used from several threads while nobody
// changes the tree.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsys::cfb {

// Major format version: 3 has 512-byte sectors, 4 has 4096-byte sectors.
enum class Version : uint16_t { V3 = 3, V4 = 4 };

enum class EntryType : uint8_t { Storage = 1, Stream = 2, Root = 5 };

// Identifies an entry of one CompoundFile while it is open (stable across
// changes and commits; not the on-disk directory index).
using EntryId = uint32_t;
inline constexpr EntryId kRootEntry = 0;

// Longest entry name, in UTF-16 code units (the terminator not counted).
inline constexpr size_t kMaxNameLength = 31;

// Streams shorter than this live in the mini stream.
inline constexpr uint64_t kMiniStreamCutoff = 4096;

struct EntryInfo {
    EntryId id = 0;
    std::u16string name;
    EntryType type = EntryType::Stream;
    uint64_t size = 0;        // streams only
    GUID clsid{};             // storages; all zero for streams
    uint32_t stateBits = 0;
    uint64_t created = 0;     // FILETIME as one 64-bit count of 100 ns
    uint64_t modified = 0;
};

// Bytes read by position: a stream of a compound file, a buffer, a file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Reads up to `count` bytes at `offset`; *done gets the number read, which
    // is smaller than `count` only at the end. Errors: STG_E_READFAULT for an
    // I/O failure, STG_E_DOCFILECORRUPT when the file's chains do not add up.
    virtual HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const = 0;
};

// Builds a stream of any size by appending; the stream appears (replacing any
// stream of that name) only when finish() succeeds. Up to a few megabytes are
// kept in memory, the rest spills into an unlinked temporary file.
class StreamWriter {
public:
    virtual ~StreamWriter() = default;
    virtual HRESULT write(const void* data, size_t count) = 0;
    virtual HRESULT finish() = 0;
};

// Access and sharing of an open file. Sharing follows CreateFileW: the bits
// say what other opens of the same file (in any process, through winsys) may
// do while this one is open; see kernel/share_modes.h for the scheme.
enum class Access { Read, ReadWrite };
inline constexpr unsigned kShareRead = 1;   // FILE_SHARE_READ
inline constexpr unsigned kShareWrite = 2;  // FILE_SHARE_WRITE

struct OpenOptions {
    Access access = Access::Read;
    unsigned share = kShareRead;  // deny writers, the usual mode for readers
};

class CompoundFile {
public:
    // Opens an existing compound file. STG_E_FILENOTFOUND / STG_E_PATHNOTFOUND
    // for a missing file, STG_E_ACCESSDENIED, STG_E_SHAREVIOLATION when another
    // open's sharing forbids this one, STG_E_FILEALREADYEXISTS for a file that
    // is not a compound file (what StgOpenStorage reports), STG_E_INVALIDHEADER
    // for a bad header, STG_E_DOCFILECORRUPT for broken tables or directory.
    static HRESULT open(const std::string& nativePath, const OpenOptions& options,
                        std::unique_ptr<CompoundFile>* out);

    // Writes a new, empty compound file at `nativePath` at once (replacing an
    // existing file, crash-safely) and opens it for reading and writing. With
    // `failIfExists`, an existing file gives STG_E_FILEALREADYEXISTS.
    static HRESULT create(const std::string& nativePath, Version version, bool failIfExists,
                          unsigned share, std::unique_ptr<CompoundFile>* out);

    virtual ~CompoundFile() = default;

    virtual const std::string& path() const = 0;
    virtual Version version() const = 0;
    virtual bool writable() const = 0;
    // True when something changed since opening or the last commit.
    virtual bool dirty() const = 0;

    // --- the tree ---
    virtual HRESULT stat(EntryId id, EntryInfo* out) const = 0;
    // Children of a storage, ordered as the format orders them (shorter names
    // first, then by upper-cased UTF-16 code units).
    virtual HRESULT children(EntryId storage, std::vector<EntryInfo>* out) const = 0;
    // STG_E_FILENOTFOUND when `storage` has no child of that name (names
    // compare without regard to case, as the format does).
    virtual HRESULT find(EntryId storage, std::u16string_view name, EntryId* out) const = 0;

    // --- reading ---
    // A reader that stays valid (and keeps reading the bytes as they were)
    // even after the stream is replaced, the file committed or this object
    // destroyed.
    virtual HRESULT openStream(EntryId stream, std::shared_ptr<const ByteSource>* out) const = 0;
    // Whole stream in memory; for small streams (tables, summary information).
    virtual HRESULT readStream(EntryId stream, std::vector<uint8_t>* out) const = 0;

    // --- changing (STG_E_ACCESSDENIED when opened for reading) ---
    // Creates or replaces the stream `name` in `storage`. Names: 1 to 31 UTF-16
    // units, none of '/', '\\', ':', '!' or NUL (STG_E_INVALIDNAME).
    // A storage of that name gives STG_E_FILEALREADYEXISTS.
    virtual HRESULT writeStream(EntryId storage, std::u16string_view name,
                                std::span<const uint8_t> bytes, EntryId* out = nullptr) = 0;
    // Same, with bytes read from `content` at commit time; `content` must keep
    // giving the same bytes until then (a reader of another CompoundFile does).
    virtual HRESULT writeStream(EntryId storage, std::u16string_view name,
                                std::shared_ptr<const ByteSource> content, EntryId* out = nullptr) = 0;
    virtual HRESULT beginStream(EntryId storage, std::u16string_view name,
                                std::unique_ptr<StreamWriter>* out) = 0;
    // Creates a storage; an existing one of that name is returned as it is
    // (with `failIfExists`, STG_E_FILEALREADYEXISTS instead).
    virtual HRESULT createStorage(EntryId parent, std::u16string_view name, bool failIfExists,
                                  EntryId* out) = 0;
    // Removes a stream, or a storage with everything under it.
    virtual HRESULT remove(EntryId id) = 0;
    virtual HRESULT rename(EntryId id, std::u16string_view newName) = 0;
    virtual HRESULT setClass(EntryId id, const GUID& clsid) = 0;
    virtual HRESULT setStateBits(EntryId id, uint32_t bits, uint32_t mask) = 0;
    virtual HRESULT setTimes(EntryId id, const uint64_t* created, const uint64_t* modified) = 0;

    // Copies every stream and storage under `sourceStorage` of `source` (which
    // may be this file) into `targetStorage`, replacing streams of the same
    // name and merging into storages of the same name; the class id and state
    // bits of `sourceStorage` go onto `targetStorage`. Stream bytes are copied
    // at commit time, straight from the source file; `source` may be closed
    // before that (its file stays open, with its share locks, until then).
    // Names in `excludeNames` are skipped at the top level only, as
    // IStorage::CopyTo does.
    virtual HRESULT copyFrom(const CompoundFile& source, EntryId sourceStorage,
                             EntryId targetStorage,
                             std::span<const std::u16string> excludeNames = {}) = 0;

    // --- persisting ---
    // Writes the whole tree into a new file beside the original, flushes it
    // and renames it over the original. The layout is compact: no free
    // sectors. Version 3 unless the file was opened as version 4, or would
    // pass 2 GB, or holds a stream of 2 GB or more (then version 4).
    virtual HRESULT commit() = 0;
    // Writes the tree to another path the same way (crash-safe there too);
    // this object stays attached to its own file and keeps its changes.
    virtual HRESULT saveAs(const std::string& nativePath) const = 0;
    // Drops every change since opening or the last commit.
    virtual HRESULT revert() = 0;
};

// A ByteSource over bytes in memory.
std::shared_ptr<const ByteSource> bytesSource(std::vector<uint8_t> bytes);

// Checks the first bytes of a file for the compound-file signature.
bool hasSignature(std::span<const uint8_t> head);

// Windows error code (winerror.h ERROR_*) for an STG_E_* result, for callers
// that report Win32 codes.
DWORD win32ErrorOf(HRESULT hr);

// Ordering of sibling names in the directory tree: length first, then
// code unit by code unit after simple upper-casing. <0, 0, >0.
int compareNames(std::u16string_view a, std::u16string_view b);

}  // namespace winsys::cfb
