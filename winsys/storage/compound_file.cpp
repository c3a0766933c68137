// The compound file: the directory tree in memory over an Image of the file
// on disk, changes kept until commit, and commit by writing a new file.
#include "storage/compound_file.h"

#include "storage/format.h"
#include "storage/image.h"
#include "storage/names.h"
#include "storage/native_file.h"
#include "storage/sources.h"
#include "storage/writer.h"

#include <winerror.h>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <optional>
#include <unistd.h>

namespace winsys::cfb {
namespace {

struct Node {
    bool alive = true;
    std::u16string name;
    EntryType type = EntryType::Stream;
    GUID clsid{};
    uint32_t stateBits = 0;
    uint64_t created = 0, modified = 0;
    EntryId parent = kRootEntry;
    std::map<std::u16string, EntryId, NameLess> children;
    std::shared_ptr<const ByteSource> content;  // streams
};

const std::u16string kRootName = u"Root Entry";

class CompoundFileImpl;

class Writer final : public StreamWriter {
public:
    Writer(CompoundFileImpl* file, EntryId storage, std::u16string name)
        : file_(file), storage_(storage), name_(std::move(name)), buffer_(std::make_shared<SpillBuffer>()) {}
    HRESULT write(const void* data, size_t count) override {
        if (finished_) return STG_E_REVERTED;
        return buffer_->append(data, count);
    }
    HRESULT finish() override;

private:
    CompoundFileImpl* file_;
    EntryId storage_;
    std::u16string name_;
    std::shared_ptr<SpillBuffer> buffer_;
    bool finished_ = false;
};

class CompoundFileImpl final : public CompoundFile {
public:
    CompoundFileImpl(std::string path, bool writable, unsigned share)
        : path_(std::move(path)), writable_(writable), share_(share) {}

    HRESULT load(std::shared_ptr<NativeFile> file) {
        std::shared_ptr<Image> image;
        HRESULT hr = Image::load(file, &image);
        if (FAILED(hr)) return hr;
        hr = buildTree(*image);
        if (FAILED(hr)) return hr;
        file_ = std::move(file);
        image_ = std::move(image);
        version_ = image_->version();
        return S_OK;
    }

    void startEmpty(Version version) {
        nodes_.clear();
        Node root;
        root.name = kRootName;
        root.type = EntryType::Root;
        nodes_.push_back(std::move(root));
        version_ = version;
    }

    const std::string& path() const override { return path_; }
    Version version() const override { return version_; }
    bool writable() const override { return writable_; }
    bool dirty() const override { return dirty_; }

    HRESULT stat(EntryId id, EntryInfo* out) const override {
        const Node* n = node(id);
        if (!n) return STG_E_FILENOTFOUND;
        fill(id, *n, out);
        return S_OK;
    }

    HRESULT children(EntryId storage, std::vector<EntryInfo>* out) const override {
        const Node* n = node(storage);
        if (!n) return STG_E_FILENOTFOUND;
        if (n->type == EntryType::Stream) return STG_E_INVALIDFUNCTION;
        try {
            out->clear();
            out->reserve(n->children.size());
            for (const auto& [name, id] : n->children) {
                out->emplace_back();
                fill(id, nodes_[id], &out->back());
            }
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT find(EntryId storage, std::u16string_view name, EntryId* out) const override {
        const Node* n = node(storage);
        if (!n) return STG_E_FILENOTFOUND;
        auto it = n->children.find(name);
        if (it == n->children.end()) return STG_E_FILENOTFOUND;
        *out = it->second;
        return S_OK;
    }

    HRESULT openStream(EntryId stream, std::shared_ptr<const ByteSource>* out) const override {
        const Node* n = node(stream);
        if (!n) return STG_E_FILENOTFOUND;
        if (n->type != EntryType::Stream) return STG_E_FILENOTFOUND;
        *out = n->content ? n->content : bytesSource({});
        return S_OK;
    }

    HRESULT readStream(EntryId stream, std::vector<uint8_t>* out) const override {
        std::shared_ptr<const ByteSource> source;
        HRESULT hr = openStream(stream, &source);
        if (FAILED(hr)) return hr;
        try {
            uint64_t size = source->size();
            // Reading the last byte first proves the size against the file
            // before a buffer of that size is made.
            uint8_t last = 0;
            size_t one = 0;
            if (size > 0 && FAILED(hr = source->readAt(size - 1, &last, 1, &one))) return hr;
            if (size > (uint64_t(1) << 31)) return STG_E_INSUFFICIENTMEMORY;
            out->resize(size_t(size));
            size_t done = 0;
            hr = source->readAt(0, out->data(), out->size(), &done);
            if (FAILED(hr)) return hr;
            return done == out->size() ? S_OK : STG_E_READFAULT;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT writeStream(EntryId storage, std::u16string_view name, std::span<const uint8_t> bytes,
                        EntryId* out) override {
        try {
            return writeStream(storage, name, bytesSource(std::vector<uint8_t>(bytes.begin(), bytes.end())), out);
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT writeStream(EntryId storage, std::u16string_view name, std::shared_ptr<const ByteSource> content,
                        EntryId* out) override {
        EntryId id = 0;
        HRESULT hr = placeChild(storage, name, EntryType::Stream, false, &id);
        if (FAILED(hr)) return hr;
        nodes_[id].content = std::move(content);
        if (out) *out = id;
        return S_OK;
    }

    HRESULT beginStream(EntryId storage, std::u16string_view name, std::unique_ptr<StreamWriter>* out) override {
        HRESULT hr = checkPlace(storage, name, EntryType::Stream);
        if (FAILED(hr)) return hr;
        try {
            *out = std::make_unique<Writer>(this, storage, std::u16string(name));
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT createStorage(EntryId parent, std::u16string_view name, bool failIfExists, EntryId* out) override {
        return placeChild(parent, name, EntryType::Storage, failIfExists, out);
    }

    HRESULT remove(EntryId id) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        Node* n = node(id);
        if (!n || id == kRootEntry) return STG_E_FILENOTFOUND;
        touch();
        nodes_[n->parent].children.erase(n->name);
        std::vector<EntryId> stack{id};
        while (!stack.empty()) {
            EntryId e = stack.back();
            stack.pop_back();
            Node& dead = nodes_[e];
            dead.alive = false;
            dead.content.reset();
            for (const auto& [childName, child] : dead.children) stack.push_back(child);
            dead.children.clear();
        }
        return S_OK;
    }

    HRESULT rename(EntryId id, std::u16string_view newName) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        Node* n = node(id);
        if (!n || id == kRootEntry) return STG_E_FILENOTFOUND;
        if (!isValidName(newName)) return STG_E_INVALIDNAME;
        auto& siblings = nodes_[n->parent].children;
        auto clash = siblings.find(newName);
        if (clash != siblings.end() && clash->second != id) return STG_E_FILEALREADYEXISTS;
        try {
            touch();
            siblings.erase(n->name);
            n->name.assign(newName);
            siblings.emplace(n->name, id);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT setClass(EntryId id, const GUID& clsid) override {
        Node* n = changeable(id);
        if (!n) return writable_ ? STG_E_FILENOTFOUND : STG_E_ACCESSDENIED;
        touch();
        n->clsid = clsid;
        return S_OK;
    }

    HRESULT setStateBits(EntryId id, uint32_t bits, uint32_t mask) override {
        Node* n = changeable(id);
        if (!n) return writable_ ? STG_E_FILENOTFOUND : STG_E_ACCESSDENIED;
        touch();
        n->stateBits = (n->stateBits & ~mask) | (bits & mask);
        return S_OK;
    }

    HRESULT setTimes(EntryId id, const uint64_t* created, const uint64_t* modified) override {
        Node* n = changeable(id);
        if (!n) return writable_ ? STG_E_FILENOTFOUND : STG_E_ACCESSDENIED;
        touch();
        if (created) n->created = *created;
        if (modified) n->modified = *modified;
        return S_OK;
    }

    HRESULT copyFrom(const CompoundFile& source, EntryId sourceStorage, EntryId targetStorage,
                     std::span<const std::u16string> excludeNames) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        EntryInfo top;
        HRESULT hr = source.stat(sourceStorage, &top);
        if (FAILED(hr)) return hr;
        if (top.type == EntryType::Stream || !node(targetStorage) || nodes_[targetStorage].type == EntryType::Stream)
            return STG_E_INVALIDFUNCTION;
        // Copying a storage into itself or below itself would never end.
        if (&source == this) {
            for (EntryId e = targetStorage;; e = nodes_[e].parent) {
                if (e == sourceStorage) return STG_E_ACCESSDENIED;
                if (e == kRootEntry) break;
            }
        }
        try {
            struct Job { EntryId from, to; bool top; };
            std::vector<Job> jobs{{sourceStorage, targetStorage, true}};
            std::vector<EntryInfo> kids;
            while (!jobs.empty()) {
                Job job = jobs.back();
                jobs.pop_back();
                EntryInfo info;
                hr = source.stat(job.from, &info);
                if (SUCCEEDED(hr)) hr = setClass(job.to, info.clsid);
                if (SUCCEEDED(hr)) hr = setStateBits(job.to, info.stateBits, 0xFFFFFFFFu);
                if (SUCCEEDED(hr) && !job.top) hr = setTimes(job.to, &info.created, &info.modified);
                if (SUCCEEDED(hr)) hr = source.children(job.from, &kids);
                if (FAILED(hr)) return hr;
                for (const EntryInfo& kid : kids) {
                    if (job.top && isExcluded(kid.name, excludeNames)) continue;
                    if (kid.type == EntryType::Stream) {
                        std::shared_ptr<const ByteSource> content;
                        hr = source.openStream(kid.id, &content);
                        if (SUCCEEDED(hr)) hr = writeStream(job.to, kid.name, content, nullptr);
                    } else {
                        EntryId existing = 0, made = 0;
                        if (SUCCEEDED(find(job.to, kid.name, &existing)) &&
                            nodes_[existing].type == EntryType::Stream)
                            remove(existing);
                        hr = createStorage(job.to, kid.name, false, &made);
                        if (SUCCEEDED(hr)) jobs.push_back({kid.id, made, false});
                    }
                    if (FAILED(hr)) return hr;
                }
            }
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT commit() override {
        if (!writable_) return STG_E_ACCESSDENIED;
        if (!dirty_) return S_OK;
        return writeOut(path_, true);
    }

    HRESULT saveAs(const std::string& nativePath) const override {
        return const_cast<CompoundFileImpl*>(this)->writeOut(nativePath, false);
    }

    HRESULT revert() override {
        if (dirty_ && committed_) nodes_ = std::move(*committed_);
        committed_.reset();
        dirty_ = false;
        return S_OK;
    }

    // Writes the tree to `target` through a sibling temporary file. When
    // `adopt`, the new file becomes this object's file and every stream is
    // read from it from now on.
    HRESULT writeOut(const std::string& target, bool adopt) {
        try {
            std::vector<WriteNode> out;
            std::vector<EntryId> idOf;
            std::vector<uint32_t> indexOf(nodes_.size(), 0);
            std::vector<EntryId> stack{kRootEntry};
            while (!stack.empty()) {
                EntryId id = stack.back();
                stack.pop_back();
                indexOf[id] = uint32_t(out.size());
                idOf.push_back(id);
                const Node& n = nodes_[id];
                WriteNode w;
                w.name = n.name;
                w.type = n.type;
                w.clsid = n.clsid;
                w.stateBits = n.stateBits;
                w.created = n.created;
                w.modified = n.modified;
                w.content = n.content;
                out.push_back(std::move(w));
                for (const auto& [name, child] : n.children) stack.push_back(child);
            }
            for (size_t i = 0; i < out.size(); ++i)
                for (const auto& [name, child] : nodes_[idOf[i]].children) out[i].children.push_back(indexOf[child]);

            SiblingTempFile temp;
            HRESULT hr = temp.create(target);
            if (FAILED(hr)) return hr;
            WriteResult result;
            hr = writeCompoundFile(temp.fd(), out, version_, &result);
            if (FAILED(hr)) return hr;
            if (!adopt) return temp.replaceTarget(false, 0, nullptr);

            std::shared_ptr<NativeFile> file;
            hr = temp.replaceTarget(true, share_, &file);
            if (FAILED(hr)) return hr;
            std::shared_ptr<Image> image;
            hr = Image::load(file, &image);
            if (FAILED(hr)) return hr;
            for (size_t i = 0; i < out.size(); ++i)
                if (out[i].type == EntryType::Stream)
                    nodes_[idOf[i]].content = image->streamSource(result.directoryIndex[i]);
            file_ = std::move(file);
            image_ = std::move(image);
            version_ = result.version;
            committed_.reset();
            dirty_ = false;
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT finishWriter(EntryId storage, const std::u16string& name, std::shared_ptr<const ByteSource> content) {
        return writeStream(storage, name, std::move(content), nullptr);
    }

private:
    const Node* node(EntryId id) const {
        return id < nodes_.size() && nodes_[id].alive ? &nodes_[id] : nullptr;
    }
    Node* node(EntryId id) { return id < nodes_.size() && nodes_[id].alive ? &nodes_[id] : nullptr; }
    Node* changeable(EntryId id) { return writable_ ? node(id) : nullptr; }

    static bool isExcluded(const std::u16string& name, std::span<const std::u16string> excluded) {
        for (const auto& e : excluded)
            if (compareNames(e, name) == 0) return true;
        return false;
    }

    void fill(EntryId id, const Node& n, EntryInfo* out) const {
        out->id = id;
        out->name = n.name;
        out->type = n.type;
        out->size = n.type == EntryType::Stream && n.content ? n.content->size() : 0;
        out->clsid = n.clsid;
        out->stateBits = n.stateBits;
        out->created = n.created;
        out->modified = n.modified;
    }

    // Remembers the state to go back to before the first change after a commit.
    void touch() {
        if (!dirty_) {
            committed_ = nodes_;
            dirty_ = true;
        }
    }

    HRESULT checkPlace(EntryId parent, std::u16string_view name, EntryType type) const {
        if (!writable_) return STG_E_ACCESSDENIED;
        const Node* p = node(parent);
        if (!p || p->type == EntryType::Stream) return STG_E_FILENOTFOUND;
        if (!isValidName(name)) return STG_E_INVALIDNAME;
        auto it = p->children.find(name);
        if (it != p->children.end() && nodes_[it->second].type != type) return STG_E_FILEALREADYEXISTS;
        return S_OK;
    }

    HRESULT placeChild(EntryId parent, std::u16string_view name, EntryType type, bool failIfExists, EntryId* out) {
        HRESULT hr = checkPlace(parent, name, type);
        if (FAILED(hr)) return hr;
        try {
            auto& siblings = nodes_[parent].children;
            auto it = siblings.find(name);
            if (it != siblings.end()) {
                if (failIfExists) return STG_E_FILEALREADYEXISTS;
                if (type == EntryType::Stream) touch();
                *out = it->second;
                return S_OK;
            }
            touch();
            Node n;
            n.name.assign(name);
            n.type = type;
            n.parent = parent;
            EntryId id = EntryId(nodes_.size());
            nodes_.push_back(std::move(n));
            nodes_[parent].children.emplace(nodes_[id].name, id);
            *out = id;
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    // Turns the directory of `image` into nodes, walking every sibling tree
    // once; an entry met twice (a cycle or a shared subtree) is corruption.
    HRESULT buildTree(const Image& image) {
        try {
            const auto& entries = image.entries();
            nodes_.clear();
            Node root;
            root.name = entries[0].name.empty() ? kRootName : entries[0].name;
            root.type = EntryType::Root;
            root.clsid = entries[0].clsid;
            root.stateBits = entries[0].stateBits;
            root.created = entries[0].created;
            root.modified = entries[0].modified;
            nodes_.push_back(std::move(root));
            std::vector<bool> seen(entries.size(), false);
            seen[0] = true;
            struct Visit { uint32_t entry; EntryId parent; };
            std::vector<Visit> stack{{entries[0].child, kRootEntry}};
            while (!stack.empty()) {
                Visit v = stack.back();
                stack.pop_back();
                if (v.entry == format::kNoStream) continue;
                if (v.entry >= entries.size() || seen[v.entry]) return STG_E_DOCFILECORRUPT;
                seen[v.entry] = true;
                const DirEntry& e = entries[v.entry];
                if (e.type != format::kTypeStorage && e.type != format::kTypeStream) return STG_E_DOCFILECORRUPT;
                stack.push_back({e.left, v.parent});
                stack.push_back({e.right, v.parent});
                if (e.name.empty()) return STG_E_DOCFILECORRUPT;
                auto& siblings = nodes_[v.parent].children;
                // A second entry of the same name could never be opened; skip it.
                if (siblings.count(e.name)) continue;
                Node n;
                n.name = e.name;
                n.type = e.type == format::kTypeStorage ? EntryType::Storage : EntryType::Stream;
                n.clsid = e.clsid;
                n.stateBits = e.stateBits;
                n.created = e.created;
                n.modified = e.modified;
                n.parent = v.parent;
                if (n.type == EntryType::Stream) n.content = image.streamSource(v.entry);
                EntryId id = EntryId(nodes_.size());
                nodes_.push_back(std::move(n));
                nodes_[v.parent].children.emplace(nodes_[id].name, id);
                if (e.type == format::kTypeStorage) stack.push_back({e.child, id});
            }
            return S_OK;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    std::string path_;
    bool writable_;
    unsigned share_;
    Version version_ = Version::V3;
    std::shared_ptr<NativeFile> file_;
    std::shared_ptr<Image> image_;
    std::vector<Node> nodes_;
    std::optional<std::vector<Node>> committed_;
    bool dirty_ = false;
};

HRESULT Writer::finish() {
    if (finished_) return STG_E_REVERTED;
    finished_ = true;
    return file_->finishWriter(storage_, name_, std::move(buffer_));
}

}  // namespace

HRESULT CompoundFile::open(const std::string& nativePath, const OpenOptions& options,
                           std::unique_ptr<CompoundFile>* out) {
    try {
        const bool write = options.access == Access::ReadWrite;
        std::shared_ptr<NativeFile> file;
        HRESULT hr = NativeFile::open(nativePath, write, options.share, &file);
        if (FAILED(hr)) return hr;
        auto impl = std::make_unique<CompoundFileImpl>(nativePath, write, options.share);
        hr = impl->load(std::move(file));
        if (FAILED(hr)) return hr;
        *out = std::move(impl);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT CompoundFile::create(const std::string& nativePath, Version version, bool failIfExists, unsigned share,
                             std::unique_ptr<CompoundFile>* out) {
    try {
        if (::access(nativePath.c_str(), F_OK) == 0) {
            if (failIfExists) return STG_E_FILEALREADYEXISTS;
            // Replacing a file is writing it: the sharing of its current
            // opens must allow that.
            std::shared_ptr<NativeFile> existing;
            HRESULT hr = NativeFile::open(nativePath, true, share, &existing);
            if (FAILED(hr)) return hr;
        }
        auto impl = std::make_unique<CompoundFileImpl>(nativePath, true, share);
        impl->startEmpty(version);
        HRESULT hr = impl->writeOut(nativePath, true);
        if (FAILED(hr)) return hr;
        *out = std::move(impl);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

DWORD win32ErrorOf(HRESULT hr) {
    if (SUCCEEDED(hr)) return ERROR_SUCCESS;
    switch (hr) {
    case STG_E_INVALIDHEADER:
    case STG_E_DOCFILECORRUPT:
    case STG_E_OLDFORMAT: return ERROR_BAD_FORMAT;
    case STG_E_INVALIDNAME: return ERROR_INVALID_NAME;
    case STG_E_INVALIDFLAG: return ERROR_INVALID_FLAGS;
    default: break;
    }
    const uint32_t code = uint32_t(hr);
    if ((code & 0xFFFF0000u) == 0x80030000u || (code & 0xFFFF0000u) == 0x80070000u) return code & 0xFFFFu;
    return ERROR_INVALID_FUNCTION;
}

}  // namespace winsys::cfb
