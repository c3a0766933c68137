// StgOpenStorage, StgCreateDocfile and the IStorage / IStream / IEnumSTATSTG
// objects over the compound-file layer.
//
// Modes: every storage keeps its changes in memory. A transacted storage
// writes them on Commit and drops them on Revert or at its last Release; a
// direct one writes them on Commit and at the last Release of the file.
// Writing replaces the file as a whole (see compound_file.h), so the file on
// disk is always either the old or the new one.
#include <ole2.h>

#include "paths/paths.h"
#include "storage/compound_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace winsys::cfb;

extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IStorage = {0x0000000B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumSTATSTG = {0x0000000D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};

WINSYS_EXPORT LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }
WINSYS_EXPORT LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb ? cb : 1); }
WINSYS_EXPORT void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }
}

namespace {

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

size_t wideLength(const OLECHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

std::u16string_view nameOf(const OLECHAR* s) { return {s, wideLength(s)}; }

FILETIME toFiletime(uint64_t t) { return FILETIME{DWORD(t), DWORD(t >> 32)}; }
uint64_t fromFiletime(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// One open compound file shared by the storage and stream objects on it.
struct OpenFile {
    std::unique_ptr<CompoundFile> file;
    bool transacted = false;
    std::string deleteOnRelease;
    ~OpenFile() {
        if (!transacted && file && file->writable() && file->dirty()) file->commit();
        file.reset();
        if (!deleteOnRelease.empty()) ::unlink(deleteOnRelease.c_str());
    }
};

// Sharing of an STGM mode as FILE_SHARE_* bits; false for a mode the flags
// do not allow.
bool shareOf(DWORD mode, unsigned* share) {
    switch (mode & 0x70) {
    case 0: *share = kShareRead | kShareWrite; return true;  // compatibility mode
    case STGM_SHARE_DENY_NONE: *share = kShareRead | kShareWrite; return true;
    case STGM_SHARE_DENY_READ: *share = kShareWrite; return true;
    case STGM_SHARE_DENY_WRITE: *share = kShareRead; return true;
    case STGM_SHARE_EXCLUSIVE: *share = 0; return true;
    default: return false;
    }
}

STATSTG statOf(const EntryInfo& info, DWORD mode, DWORD flags, HRESULT* hr) {
    STATSTG st;
    std::memset(&st, 0, sizeof st);
    *hr = S_OK;
    if (!(flags & STATFLAG_NONAME)) {
        st.pwcsName = static_cast<LPOLESTR>(CoTaskMemAlloc((info.name.size() + 1) * sizeof(OLECHAR)));
        if (!st.pwcsName) {
            *hr = STG_E_INSUFFICIENTMEMORY;
            return st;
        }
        std::memcpy(st.pwcsName, info.name.data(), info.name.size() * sizeof(OLECHAR));
        st.pwcsName[info.name.size()] = 0;
    }
    st.type = info.type == EntryType::Stream ? STGTY_STREAM : STGTY_STORAGE;
    st.cbSize.QuadPart = info.size;
    st.mtime = toFiletime(info.modified);
    st.ctime = toFiletime(info.created);
    st.grfMode = mode;
    st.clsid = info.clsid;
    st.grfStateBits = info.stateBits;
    return st;
}

// The IUnknown part of every object here: a count of references, and the
// interfaces the object answers to besides IUnknown.
template <class Interface, const IID&... answers>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (sameGuid(riid, IID_IUnknown) || (sameGuid(riid, answers) || ...)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// Bytes of a stream being written through IStream: kept in memory and put
// in place as the stream's content.
class GrowingBytes final : public ByteSource {
public:
    std::vector<uint8_t> bytes;
    uint64_t size() const override { return bytes.size(); }
    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const override {
        *done = 0;
        if (offset >= bytes.size()) return S_OK;
        size_t n = size_t(std::min<uint64_t>(count, bytes.size() - offset));
        std::memcpy(buffer, bytes.data() + offset, n);
        *done = n;
        return S_OK;
    }
};

class Stream final : public ComObject<IStream, IID_IStream, IID_ISequentialStream> {
public:
    Stream(std::shared_ptr<OpenFile> open, EntryId parent, EntryId id, DWORD mode)
        : open_(std::move(open)), parent_(parent), id_(id), mode_(mode) {}

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if ((mode_ & 3) == STGM_WRITE) return STG_E_ACCESSDENIED;
        std::shared_ptr<const ByteSource> source;
        HRESULT hr = open_->file->openStream(id_, &source);
        if (FAILED(hr)) return hr;
        size_t done = 0;
        hr = source->readAt(position_, pv, cb, &done);
        if (FAILED(hr)) return hr;
        position_ += done;
        if (pcbRead) *pcbRead = ULONG(done);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        HRESULT hr = takeBytes();
        if (FAILED(hr)) return hr;
        try {
            auto& bytes = buffer_->bytes;
            if (position_ + cb > bytes.size()) bytes.resize(size_t(position_ + cb));
            std::memcpy(bytes.data() + position_, pv, cb);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        position_ += cb;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        int64_t base = 0;
        if (origin == STREAM_SEEK_CUR) {
            base = int64_t(position_);
        } else if (origin == STREAM_SEEK_END) {
            EntryInfo info;
            HRESULT hr = open_->file->stat(id_, &info);
            if (FAILED(hr)) return hr;
            base = int64_t(info.size);
        } else if (origin != STREAM_SEEK_SET) {
            return STG_E_INVALIDFUNCTION;
        }
        int64_t target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position_ = uint64_t(target);
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        HRESULT hr = takeBytes();
        if (FAILED(hr)) return hr;
        if (size.QuadPart > (uint64_t(1) << 31)) return STG_E_MEDIUMFULL;
        try {
            buffer_->bytes.resize(size_t(size.QuadPart));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override {
        if (!target) return STG_E_INVALIDPOINTER;
        uint64_t left = cb.QuadPart, read = 0, written = 0;
        std::vector<uint8_t> chunk(1 << 16);
        HRESULT hr = S_OK;
        while (left > 0) {
            ULONG got = 0, put = 0;
            hr = Read(chunk.data(), ULONG(std::min<uint64_t>(left, chunk.size())), &got);
            if (FAILED(hr) || got == 0) break;
            read += got;
            hr = target->Write(chunk.data(), got, &put);
            written += put;
            if (FAILED(hr)) break;
            left -= got;
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return FAILED(hr) ? hr : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD flags) override {
        if (!st) return STG_E_INVALIDPOINTER;
        EntryInfo info;
        HRESULT hr = open_->file->stat(id_, &info);
        if (FAILED(hr)) return STG_E_REVERTED;
        *st = statOf(info, mode_, flags, &hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        auto* copy = new (std::nothrow) Stream(open_, parent_, id_, mode_);
        if (!copy) return STG_E_INSUFFICIENTMEMORY;
        copy->position_ = position_;
        *out = copy;
        return S_OK;
    }

private:
    ~Stream() = default;

    // Makes this object's buffer the stream's content (first write, or the
    // first write after a commit put the stream into the new file).
    HRESULT takeBytes() {
        if ((mode_ & 3) == STGM_READ) return STG_E_ACCESSDENIED;
        std::shared_ptr<const ByteSource> current;
        HRESULT hr = open_->file->openStream(id_, &current);
        if (FAILED(hr)) return STG_E_REVERTED;
        if (buffer_ && current.get() == buffer_.get()) return S_OK;
        try {
            auto fresh = std::make_shared<GrowingBytes>();
            fresh->bytes.resize(size_t(current->size()));
            size_t done = 0;
            hr = current->readAt(0, fresh->bytes.data(), fresh->bytes.size(), &done);
            if (FAILED(hr)) return hr;
            EntryInfo info;
            hr = open_->file->stat(id_, &info);
            if (SUCCEEDED(hr)) hr = open_->file->writeStream(parent_, info.name, fresh, nullptr);
            if (FAILED(hr)) return hr;
            buffer_ = std::move(fresh);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    std::shared_ptr<OpenFile> open_;
    EntryId parent_;
    EntryId id_;
    DWORD mode_;
    uint64_t position_ = 0;
    std::shared_ptr<GrowingBytes> buffer_;
};

class Enumerator final : public ComObject<IEnumSTATSTG, IID_IEnumSTATSTG> {
public:
    Enumerator(std::shared_ptr<OpenFile> open, std::vector<EntryInfo> items)
        : open_(std::move(open)), items_(std::move(items)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, STATSTG* out, ULONG* fetched) override {
        if (!out) return STG_E_INVALIDPOINTER;
        if (fetched) *fetched = 0;
        if (count > 1 && !fetched) return STG_E_INVALIDPARAMETER;
        ULONG n = 0;
        while (n < count && next_ < items_.size()) {
            HRESULT hr;
            out[n] = statOf(items_[next_], 0, STATFLAG_DEFAULT, &hr);
            if (FAILED(hr)) break;
            ++n;
            ++next_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        size_t left = items_.size() - next_;
        next_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumSTATSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        auto* copy = new (std::nothrow) Enumerator(open_, items_);
        if (!copy) return STG_E_INSUFFICIENTMEMORY;
        copy->next_ = next_;
        *out = copy;
        return S_OK;
    }

private:
    ~Enumerator() = default;
    std::shared_ptr<OpenFile> open_;
    std::vector<EntryInfo> items_;
    size_t next_ = 0;
};

// The argument checks both Create calls make before they look at the file.
template <class Object>
HRESULT refuseCreate(const OLECHAR* name, DWORD mode, Object** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (!name) return STG_E_INVALIDNAME;
    if ((mode & 3) == STGM_READ) return STG_E_INVALIDFLAG;
    return S_OK;
}

class Storage final : public ComObject<IStorage, IID_IStorage> {
public:
    Storage(std::shared_ptr<OpenFile> open, EntryId id, DWORD mode) : open_(std::move(open)), id_(id), mode_(mode) {}

    HRESULT STDMETHODCALLTYPE CreateStream(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStream** out) override {
        HRESULT refused = refuseCreate(name, mode, out);
        if (FAILED(refused)) return refused;
        CompoundFile& file = *open_->file;
        EntryId existing;
        if (SUCCEEDED(file.find(id_, nameOf(name), &existing))) {
            if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
            EntryInfo info;
            file.stat(existing, &info);
            if (info.type != EntryType::Stream) {
                HRESULT hr = file.remove(existing);
                if (FAILED(hr)) return hr;
            }
        }
        EntryId id;
        HRESULT hr = file.writeStream(id_, nameOf(name), std::span<const uint8_t>(), &id);
        if (FAILED(hr)) return hr;
        return makeStream(id, mode, out);
    }

    HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR* name, void*, DWORD mode, DWORD, IStream** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!name) return STG_E_INVALIDNAME;
        if ((mode & 3) != STGM_READ && !open_->file->writable()) return STG_E_ACCESSDENIED;
        EntryId id;
        EntryInfo info;
        if (FAILED(open_->file->find(id_, nameOf(name), &id)) || FAILED(open_->file->stat(id, &info)) ||
            info.type != EntryType::Stream)
            return STG_E_FILENOTFOUND;
        return makeStream(id, mode, out);
    }

    HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStorage** out) override {
        HRESULT refused = refuseCreate(name, mode, out);
        if (FAILED(refused)) return refused;
        CompoundFile& file = *open_->file;
        EntryId existing;
        if (SUCCEEDED(file.find(id_, nameOf(name), &existing))) {
            if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
            HRESULT hr = file.remove(existing);
            if (FAILED(hr)) return hr;
        }
        EntryId id;
        HRESULT hr = file.createStorage(id_, nameOf(name), true, &id);
        if (FAILED(hr)) return hr;
        return makeStorage(id, mode, out);
    }

    HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD,
                                          IStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!name) return STG_E_INVALIDNAME;
        if (priority || exclude) return STG_E_INVALIDFUNCTION;
        if ((mode & 3) != STGM_READ && !open_->file->writable()) return STG_E_ACCESSDENIED;
        EntryId id;
        EntryInfo info;
        if (FAILED(open_->file->find(id_, nameOf(name), &id)) || FAILED(open_->file->stat(id, &info)) ||
            info.type == EntryType::Stream)
            return STG_E_FILENOTFOUND;
        return makeStorage(id, mode, out);
    }

    HRESULT STDMETHODCALLTYPE CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude,
                                     IStorage* dest) override {
        if (!dest) return STG_E_INVALIDPOINTER;
        if (ciidExclude && !rgiidExclude) return STG_E_INVALIDPOINTER;
        Storage* target = ours(dest);
        if (!target) return STG_E_INVALIDPARAMETER;
        bool skipStorages = false, skipStreams = false;
        for (DWORD i = 0; i < ciidExclude; ++i) {
            if (sameGuid(rgiidExclude[i], IID_IStorage)) skipStorages = true;
            if (sameGuid(rgiidExclude[i], IID_IStream)) skipStreams = true;
        }
        try {
            std::vector<std::u16string> excluded;
            for (SNB n = snbExclude; n && *n; ++n) excluded.emplace_back(nameOf(*n));
            if (skipStorages || skipStreams) {
                std::vector<EntryInfo> kids;
                HRESULT hr = open_->file->children(id_, &kids);
                if (FAILED(hr)) return hr;
                for (const auto& kid : kids)
                    if (kid.type == EntryType::Stream ? skipStreams : skipStorages) excluded.push_back(kid.name);
            }
            return target->open_->file->copyFrom(*open_->file, id_, target->id_, excluded);
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR* name, IStorage* dest, const OLECHAR* newName,
                                            DWORD flags) override {
        if (!name || !newName) return STG_E_INVALIDNAME;
        Storage* target = ours(dest);
        if (!target) return STG_E_INVALIDPARAMETER;
        if (flags != STGMOVE_MOVE && flags != STGMOVE_COPY) return STG_E_INVALIDFLAG;
        CompoundFile& from = *open_->file;
        CompoundFile& to = *target->open_->file;
        EntryId id;
        EntryInfo info;
        if (FAILED(from.find(id_, nameOf(name), &id)) || FAILED(from.stat(id, &info))) return STG_E_FILENOTFOUND;
        HRESULT hr;
        if (info.type == EntryType::Stream) {
            std::shared_ptr<const ByteSource> content;
            hr = from.openStream(id, &content);
            if (SUCCEEDED(hr)) hr = to.writeStream(target->id_, nameOf(newName), content, nullptr);
        } else {
            EntryId made;
            hr = to.createStorage(target->id_, nameOf(newName), false, &made);
            if (SUCCEEDED(hr)) hr = to.copyFrom(from, id, made);
        }
        if (SUCCEEDED(hr) && flags == STGMOVE_MOVE) hr = from.remove(id);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
        if (id_ != kRootEntry) return S_OK;  // a sub-storage's changes are the file's
        if (!open_->file->writable()) return S_OK;
        return open_->file->commit();
    }

    HRESULT STDMETHODCALLTYPE Revert() override {
        if (id_ != kRootEntry) return S_OK;
        return open_->file->revert();
    }

    HRESULT STDMETHODCALLTYPE EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        try {
            std::vector<EntryInfo> kids;
            HRESULT hr = open_->file->children(id_, &kids);
            if (FAILED(hr)) return STG_E_REVERTED;
            *out = new Enumerator(open_, std::move(kids));
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR* name) override {
        if (!name) return STG_E_INVALIDNAME;
        EntryId id;
        if (FAILED(open_->file->find(id_, nameOf(name), &id))) return STG_E_FILENOTFOUND;
        return open_->file->remove(id);
    }

    HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR* oldName, const OLECHAR* newName) override {
        if (!oldName || !newName) return STG_E_INVALIDNAME;
        EntryId id;
        if (FAILED(open_->file->find(id_, nameOf(oldName), &id))) return STG_E_FILENOTFOUND;
        return open_->file->rename(id, nameOf(newName));
    }

    HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR* name, const FILETIME* ctime, const FILETIME*,
                                              const FILETIME* mtime) override {
        EntryId id = id_;
        if (name && FAILED(open_->file->find(id_, nameOf(name), &id))) return STG_E_FILENOTFOUND;
        uint64_t created = ctime ? fromFiletime(*ctime) : 0, modified = mtime ? fromFiletime(*mtime) : 0;
        return open_->file->setTimes(id, ctime ? &created : nullptr, mtime ? &modified : nullptr);
    }

    HRESULT STDMETHODCALLTYPE SetClass(REFCLSID clsid) override { return open_->file->setClass(id_, clsid); }

    HRESULT STDMETHODCALLTYPE SetStateBits(DWORD bits, DWORD mask) override {
        return open_->file->setStateBits(id_, bits, mask);
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD flags) override {
        if (!st) return STG_E_INVALIDPOINTER;
        EntryInfo info;
        HRESULT hr = open_->file->stat(id_, &info);
        if (FAILED(hr)) return STG_E_REVERTED;
        if (id_ == kRootEntry) info.name = winsys::paths::toWindows(open_->file->path());
        *st = statOf(info, mode_, flags, &hr);
        return hr;
    }

private:
    ~Storage() = default;

    // Our own storage behind an interface pointer: every object of this class
    // shares one function table, so the table pointer tells.
    Storage* ours(IStorage* other) const {
        if (!other) return nullptr;
        void* const* mine = reinterpret_cast<void* const*>(static_cast<const IStorage*>(this));
        void* const* theirs = reinterpret_cast<void* const*>(other);
        return *mine == *theirs ? static_cast<Storage*>(other) : nullptr;
    }

    HRESULT makeStream(EntryId id, DWORD mode, IStream** out) {
        auto* stream = new (std::nothrow) Stream(open_, id_, id, mode);
        if (!stream) return STG_E_INSUFFICIENTMEMORY;
        *out = stream;
        return S_OK;
    }

    HRESULT makeStorage(EntryId id, DWORD mode, IStorage** out) {
        auto* storage = new (std::nothrow) Storage(open_, id, mode);
        if (!storage) return STG_E_INSUFFICIENTMEMORY;
        *out = storage;
        return S_OK;
    }

    std::shared_ptr<OpenFile> open_;
    EntryId id_;
    DWORD mode_;
};

HRESULT nativePathOf(const WCHAR* name, std::string* out) {
    unsigned error = 0;
    auto native = winsys::paths::toNative(nameOf(name), &error);
    if (!native) return error == ERROR_PATH_NOT_FOUND ? STG_E_PATHNOTFOUND : STG_E_INVALIDNAME;
    *out = std::move(*native);
    return S_OK;
}

HRESULT wrap(std::unique_ptr<CompoundFile> file, DWORD mode, std::string deleteOnRelease, IStorage** out) {
    try {
        auto open = std::make_shared<OpenFile>();
        open->file = std::move(file);
        open->transacted = (mode & STGM_TRANSACTED) != 0;
        open->deleteOnRelease = std::move(deleteOnRelease);
        *out = new Storage(std::move(open), kRootEntry, mode);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

}  // namespace

extern "C" {

WINSYS_EXPORT HRESULT WINAPI StgOpenStorage(const WCHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode,
                                            SNB snbExclude, DWORD reserved, IStorage** ppstgOpen) {
    if (!ppstgOpen) return STG_E_INVALIDPOINTER;
    *ppstgOpen = nullptr;
    if (!pwcsName || !*pwcsName) return STG_E_INVALIDNAME;
    if (pstgPriority || snbExclude || reserved) return STG_E_INVALIDPARAMETER;
    unsigned share = 0;
    const DWORD access = grfMode & 3;
    if (access == 3 || !shareOf(grfMode, &share) || (grfMode & (STGM_CREATE | STGM_CONVERT | STGM_DELETEONRELEASE)))
        return STG_E_INVALIDFLAG;
    std::string path;
    HRESULT hr = nativePathOf(pwcsName, &path);
    if (FAILED(hr)) return hr;
    OpenOptions options;
    options.access = access == STGM_READ ? Access::Read : Access::ReadWrite;
    options.share = share;
    std::unique_ptr<CompoundFile> file;
    hr = CompoundFile::open(path, options, &file);
    if (FAILED(hr)) return hr;
    return wrap(std::move(file), grfMode, {}, ppstgOpen);
}

WINSYS_EXPORT HRESULT WINAPI StgCreateDocfile(const WCHAR* pwcsName, DWORD grfMode, DWORD reserved,
                                              IStorage** ppstgOpen) {
    if (!ppstgOpen) return STG_E_INVALIDPOINTER;
    *ppstgOpen = nullptr;
    if (reserved) return STG_E_INVALIDPARAMETER;
    unsigned share = 0;
    const DWORD access = grfMode & 3;
    if (access == STGM_READ || access == 3 || !shareOf(grfMode, &share) || (grfMode & STGM_CONVERT))
        return STG_E_INVALIDFLAG;
    std::string path, deleteOnRelease;
    if (pwcsName) {
        HRESULT hr = nativePathOf(pwcsName, &path);
        if (FAILED(hr)) return hr;
    } else {
        // A nameless docfile lives in a temporary file that goes with it.
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/stg.XXXXXX";
        int fd = mkstemp(path.data());
        if (fd < 0) return STG_E_ACCESSDENIED;
        ::close(fd);
        grfMode |= STGM_CREATE | STGM_DELETEONRELEASE;
    }
    if (grfMode & STGM_DELETEONRELEASE) deleteOnRelease = path;
    std::unique_ptr<CompoundFile> file;
    HRESULT hr = CompoundFile::create(path, Version::V3, !(grfMode & STGM_CREATE), share, &file);
    if (FAILED(hr)) return hr;
    return wrap(std::move(file), grfMode, std::move(deleteOnRelease), ppstgOpen);
}

WINSYS_EXPORT HRESULT WINAPI StgIsStorageFile(const WCHAR* pwcsName) {
    if (!pwcsName) return STG_E_INVALIDNAME;
    std::string path;
    HRESULT hr = nativePathOf(pwcsName, &path);
    if (FAILED(hr)) return hr;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return errno == ENOENT ? STG_E_FILENOTFOUND : STG_E_ACCESSDENIED;
    uint8_t head[8] = {};
    size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return hasSignature(std::span<const uint8_t>(head, got)) ? S_OK : S_FALSE;
}

}  // extern "C"
