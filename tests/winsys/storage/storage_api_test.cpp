// StgOpenStorage, StgCreateDocfile and IStorage as the library uses them:
// the compaction sequence (from C++ and from C through the function
// tables), share modes within and between processes, direct and transacted
// modes, and the errors Windows gives.
#include "cfb_test_util.h"
#include "storage_c_probe.h"

#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace cfbtest;

namespace {

const GUID kPackageClass = {0x000C1084, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Windows form of a native absolute path (drive Z: is the root).
std::u16string windowsPath(const std::string& native) {
    std::u16string out = u"Z:";
    for (char c : native) out.push_back(c == '/' ? u'\\' : char16_t(static_cast<unsigned char>(c)));
    return out;
}

class StorageApi : public ::testing::Test {
protected:
    void SetUp() override { setenv("QLTMSI_PREFIX", (dir.path() / "prefix").c_str(), 1); }
    std::u16string win(const std::string& name) const { return windowsPath(dir.file(name)); }

    // A package-like file whose stream "Junk" is unreachable: its sectors
    // are still allocated, the space a deleted stream leaves behind.
    std::string makeFileWithFreeSpace() {
        std::string path = dir.file("holes.msi");
        std::unique_ptr<winsys::cfb::CompoundFile> file;
        EXPECT_EQ(winsys::cfb::CompoundFile::create(path, winsys::cfb::Version::V3, false, 0, &file), S_OK);
        EXPECT_EQ(file->writeStream(winsys::cfb::kRootEntry, u"Junk", pattern(200000, 9)), S_OK);
        EXPECT_EQ(file->writeStream(winsys::cfb::kRootEntry, u"Keep", pattern(30000, 1)), S_OK);
        winsys::cfb::EntryId sub;
        EXPECT_EQ(file->createStorage(winsys::cfb::kRootEntry, u"Nested", false, &sub), S_OK);
        EXPECT_EQ(file->writeStream(sub, u"inner", pattern(100, 2)), S_OK);
        EXPECT_EQ(file->setClass(winsys::cfb::kRootEntry, kPackageClass), S_OK);
        EXPECT_EQ(file->commit(), S_OK);
        file.reset();
        Raw raw(readFile(path));
        size_t junk = raw.entryNamed(u"Junk");
        auto at = raw.entryOffsets();
        bool unlinked = false;
        for (size_t e : at)
            for (size_t link : {0x44, 0x48, 0x4C})
                if (raw.bytes[e + 0x42] != 0 && get32(raw.bytes, e + link) < at.size() &&
                    at[get32(raw.bytes, e + link)] == junk) {
                    // Junk is a leaf of its tree (sorted: "Junk" < "Keep" < "Nested").
                    put32(raw.bytes, e + link, 0xFFFFFFFF);
                    unlinked = true;
                }
        EXPECT_TRUE(unlinked);
        raw.bytes[junk + 0x42] = 0;
        writeFile(path, raw.bytes);
        return path;
    }

    ScratchDir dir;
};

std::vector<uint8_t> readWhole(IStorage* storage, const char16_t* name) {
    IStream* stream = nullptr;
    std::vector<uint8_t> bytes;
    if (FAILED(storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream))) return bytes;
    STATSTG st;
    stream->Stat(&st, STATFLAG_NONAME);
    bytes.resize(size_t(st.cbSize.QuadPart));
    ULONG got = 0;
    stream->Read(bytes.data(), ULONG(bytes.size()), &got);
    bytes.resize(got);
    stream->Release();
    return bytes;
}

TEST_F(StorageApi, CompactionCopiesEverythingAndDropsFreeSpace) {
    std::string holes = makeFileWithFreeSpace();
    std::string copy = dir.file("copy.tmp");
    writeFile(copy, {});  // GetTempFileNameW leaves an empty file behind

    IStorage* from = nullptr;
    IStorage* to = nullptr;
    ASSERT_EQ(StgOpenStorage(windowsPath(holes).c_str(), nullptr, 0x20, nullptr, 0, &from), S_OK);
    ASSERT_EQ(StgCreateDocfile(windowsPath(copy).c_str(), 0x1011, 0, &to), S_OK);
    ASSERT_EQ(from->CopyTo(0, nullptr, nullptr, to), S_OK);
    EXPECT_EQ(to->Release(), 0u);
    EXPECT_EQ(from->Release(), 0u);

    EXPECT_LT(readFile(copy).size() + 150000, readFile(holes).size());
    ASSERT_EQ(StgOpenStorage(windowsPath(copy).c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &to),
              S_OK);
    STATSTG st;
    ASSERT_EQ(to->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(std::memcmp(&st.clsid, &kPackageClass, sizeof st.clsid), 0);
    EXPECT_EQ(st.type, DWORD(STGTY_STORAGE));
    EXPECT_EQ(std::u16string(st.pwcsName), windowsPath(copy));
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(readWhole(to, u"Keep"), pattern(30000, 1));
    IStorage* nested = nullptr;
    ASSERT_EQ(to->OpenStorage(u"Nested", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &nested), S_OK);
    EXPECT_EQ(readWhole(nested, u"inner"), pattern(100, 2));
    nested->Release();
    IStream* junk = nullptr;
    EXPECT_EQ(to->OpenStream(u"Junk", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &junk), STG_E_FILENOTFOUND);
    to->Release();
}

TEST_F(StorageApi, CallableFromCThroughTheFunctionTables) {
    std::string holes = makeFileWithFreeSpace();
    CLSID root{};
    ULONG elements = 0;
    ASSERT_EQ(c_probe_compact(windowsPath(holes).c_str(), win("c.tmp").c_str(), &root, &elements), S_OK);
    EXPECT_EQ(std::memcmp(&root, &kPackageClass, sizeof root), 0);
    EXPECT_EQ(elements, 2u);  // Keep and Nested
}

TEST_F(StorageApi, WritingThroughStreamsDirectAndTransacted) {
    IStorage* storage = nullptr;
    ASSERT_EQ(StgCreateDocfile(win("w.stg").c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(storage->CreateStream(u"data", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream), S_OK);
    auto bytes = pattern(10000, 4);
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data(), 6000, &written), S_OK);
    ASSERT_EQ(stream->Write(bytes.data() + 6000, 4000, &written), S_OK);
    LARGE_INTEGER zero{};
    ULARGE_INTEGER where{};
    ASSERT_EQ(stream->Seek(zero, STREAM_SEEK_END, &where), S_OK);
    EXPECT_EQ(where.QuadPart, 10000u);
    stream->Release();
    IStream* again = nullptr;
    EXPECT_EQ(storage->CreateStream(u"DATA", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &again), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(storage->Release(), 0u);  // direct: written now

    ASSERT_EQ(StgOpenStorage(win("w.stg").c_str(), nullptr, STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             nullptr, 0, &storage),
              S_OK);
    EXPECT_EQ(readWhole(storage, u"data"), bytes);
    EXPECT_EQ(storage->DestroyElement(u"data"), S_OK);
    storage->Release();  // transacted without Commit: nothing changes
    ASSERT_EQ(StgOpenStorage(win("w.stg").c_str(), nullptr, STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             nullptr, 0, &storage),
              S_OK);
    EXPECT_EQ(readWhole(storage, u"data"), bytes);
    EXPECT_EQ(storage->RenameElement(u"data", u"renamed"), S_OK);
    EXPECT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
    storage->Release();
    ASSERT_EQ(StgOpenStorage(win("w.stg").c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &storage),
              S_OK);
    EXPECT_EQ(readWhole(storage, u"renamed"), bytes);
    EXPECT_EQ(storage->CreateStream(u"x", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream), STG_E_ACCESSDENIED);
    storage->Release();
}

TEST_F(StorageApi, ErrorsAsWindowsGivesThem) {
    IStorage* storage = nullptr;
    EXPECT_EQ(StgOpenStorage(win("missing.msi").c_str(), nullptr, 0x20, nullptr, 0, &storage), STG_E_FILENOTFOUND);
    writeFile(dir.file("text.txt"), std::vector<uint8_t>(1000, 'x'));
    EXPECT_EQ(StgOpenStorage(win("text.txt").c_str(), nullptr, 0x20, nullptr, 0, &storage), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(StgIsStorageFile(win("text.txt").c_str()), S_FALSE);
    EXPECT_EQ(StgIsStorageFile(win("missing.msi").c_str()), STG_E_FILENOTFOUND);
    EXPECT_EQ(StgCreateDocfile(win("text.txt").c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(StgCreateDocfile(win("new.stg").c_str(), STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &storage), STG_E_INVALIDFLAG);
    EXPECT_EQ(StgOpenStorage(nullptr, nullptr, 0x20, nullptr, 0, &storage), STG_E_INVALIDNAME);
    EXPECT_EQ(storage, nullptr);
    ASSERT_EQ(StgCreateDocfile(win("new.stg").c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              S_OK);
    EXPECT_EQ(StgIsStorageFile(win("new.stg").c_str()), S_OK);
    void* other = nullptr;
    EXPECT_EQ(storage->QueryInterface(IID_IStream, &other), E_NOINTERFACE);
    EXPECT_EQ(storage->QueryInterface(IID_IUnknown, &other), S_OK);
    static_cast<IUnknown*>(other)->Release();
    storage->Release();
}

// Runs `child` in a forked process that holds its result until told to
// finish; returns the child's HRESULT by way of its exit code.
class Child {
public:
    template <typename F>
    explicit Child(F child) {
        int toParent[2], toChild[2];
        EXPECT_EQ(pipe(toParent), 0);
        EXPECT_EQ(pipe(toChild), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(toParent[0]);
            close(toChild[1]);
            int result = child();
            char done = 1;
            (void)!write(toParent[1], &done, 1);
            (void)!read(toChild[0], &done, 1);  // hold whatever is open until released
            _exit(result);
        }
        close(toParent[1]);
        close(toChild[0]);
        go_ = toChild[1];
        char ready;
        EXPECT_EQ(read(toParent[0], &ready, 1), 1);
        close(toParent[0]);
    }
    int finish() {
        char done = 1;
        (void)!write(go_, &done, 1);
        close(go_);
        int status = 0;
        waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
};

TEST_F(StorageApi, ShareModesHoldBetweenProcesses) {
    IStorage* storage = nullptr;
    ASSERT_EQ(StgCreateDocfile(win("s.msi").c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              S_OK);
    storage->Release();
    const std::u16string path = win("s.msi");
    auto open = [&](DWORD mode) -> int {
        IStorage* s = nullptr;
        HRESULT hr = StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, &s);
        if (SUCCEEDED(hr)) {
            s->AddRef();  // kept open until the process ends
            return 0;
        }
        return hr == STG_E_SHAREVIOLATION ? 1 : 2;
    };
    const DWORD readerDenyingWriters = STGM_READ | STGM_SHARE_DENY_WRITE;
    const DWORD writerSharing = STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_DENY_NONE;

    {
        Child writer([&] { return open(writerSharing); });
        // Another process holds it open for writing: readers that deny
        // writers are refused, readers that share are not.
        EXPECT_EQ(StgOpenStorage(path.c_str(), nullptr, readerDenyingWriters, nullptr, 0, &storage),
                  STG_E_SHAREVIOLATION);
        ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_NONE, nullptr, 0, &storage), S_OK);
        storage->Release();
        EXPECT_EQ(writer.finish(), 0);
    }
    // Once it is gone, the same open works.
    ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, readerDenyingWriters, nullptr, 0, &storage), S_OK);
    {
        // And the reverse: while we deny writers, a writer elsewhere fails,
        // another reader that denies writers does not.
        Child writer([&] { return open(writerSharing); });
        EXPECT_EQ(writer.finish(), 1);
        Child reader([&] { return open(readerDenyingWriters); });
        EXPECT_EQ(reader.finish(), 0);
        Child exclusive([&] { return open(STGM_READ | STGM_SHARE_EXCLUSIVE); });
        EXPECT_EQ(exclusive.finish(), 1);
    }
    storage->Release();
    // Within one process the same rules hold between two opens.
    ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &storage), S_OK);
    IStorage* second = nullptr;
    EXPECT_EQ(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_NONE, nullptr, 0, &second),
              STG_E_SHAREVIOLATION);
    storage->Release();
}

TEST_F(StorageApi, ACommitKeepsTheShareLocksOnTheNewFile) {
    IStorage* storage = nullptr;
    ASSERT_EQ(StgCreateDocfile(win("c.msi").c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_DENY_WRITE, 0, &storage),
              S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(storage->CreateStream(u"a", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream), S_OK);
    stream->Write("abc", 3, nullptr);
    stream->Release();
    ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);  // the file is replaced here
    Child writer([&] {
        IStorage* s = nullptr;
        return StgOpenStorage(win("c.msi").c_str(), nullptr, STGM_READWRITE | STGM_SHARE_DENY_NONE, nullptr, 0, &s) ==
                       STG_E_SHAREVIOLATION
                   ? 1
                   : 0;
    });
    EXPECT_EQ(writer.finish(), 1);
    storage->Release();
}

}  // namespace
