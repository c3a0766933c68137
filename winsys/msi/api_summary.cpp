// Summary information calls: MsiGetSummaryInformation, MsiSummaryInfo*.
#include <msidefs.h>
#include <msiquery.h>

#include "api_support.h"
#include "handles.h"

using namespace winsys::msi;

namespace {

constexpr uint32_t kPropertyLimit = 20;  // ids the Installer knows

UINT getSummary(MSIHANDLE hdb, const std::optional<std::string>& path, bool pathGiven, UINT updateCount,
                MSIHANDLE* out) {
    std::lock_guard lock(apiLock());
    if (!out) return ERROR_INVALID_PARAMETER;
    *out = 0;
    auto obj = std::make_shared<SummaryObject>();
    obj->updateCount = updateCount;
    if (hdb) {
        obj->db = handleAs<Database>(hdb);
        if (!obj->db) return ERROR_INVALID_HANDLE;
    } else {
        if (!pathGiven || !path) return ERROR_INVALID_PARAMETER;
        if (UINT r = Database::open(*path, updateCount ? OpenMode::Direct : OpenMode::ReadOnly, &obj->db)) return r;
        obj->ownsDatabase = true;
    }
    if (auto stream = obj->db->readStream(kSummaryStream)) {
        std::vector<uint8_t> bytes(stream->size());
        size_t done = 0;
        if (FAILED(stream->readAt(0, bytes.data(), bytes.size(), &done)) || done != bytes.size())
            return ERROR_FUNCTION_FAILED;
        auto info = decodeSummaryInfo(bytes);
        if (!info) return ERROR_INSTALL_PACKAGE_INVALID;
        obj->info = std::move(*info);
    }
    *out = allocHandle(std::move(obj));
    return ERROR_SUCCESS;
}

template <class Ch>
UINT getProperty(MSIHANDLE h, UINT pid, UINT* type, INT* value, FILETIME* ft, Ch* buffer, DWORD* count) {
    std::lock_guard lock(apiLock());
    auto obj = handleAs<SummaryObject>(h);
    if (!obj) return ERROR_INVALID_HANDLE;
    if (pid >= kPropertyLimit) return ERROR_UNKNOWN_PROPERTY;
    auto it = obj->info.properties.find(pid);
    if (it == obj->info.properties.end()) {
        if (type) *type = VT_EMPTY;
        return ERROR_SUCCESS;
    }
    const SummaryProperty& p = it->second;
    if (type) *type = p.type;
    switch (p.type) {
    case VT_I2:
    case VT_I4:
        if (value) *value = p.integer;
        return ERROR_SUCCESS;
    case VT_FILETIME:
        if (ft) {
            ft->dwLowDateTime = DWORD(p.filetime);
            ft->dwHighDateTime = DWORD(p.filetime >> 32);
        }
        return ERROR_SUCCESS;
    case VT_LPSTR: {
        UINT r = copyOut(p.text, buffer, count);
        // Unlike records, asking with no buffer reports the length as more data.
        if (r == ERROR_SUCCESS && !buffer && count) return ERROR_MORE_DATA;
        return r;
    }
    default: return ERROR_SUCCESS;
    }
}

UINT setProperty(MSIHANDLE h, UINT pid, UINT type, INT value, const FILETIME* ft, const std::u16string* text) {
    std::lock_guard lock(apiLock());
    auto obj = handleAs<SummaryObject>(h);
    if (!obj) return ERROR_INVALID_HANDLE;
    if (pid >= kPropertyLimit || pid == PID_DICTIONARY || pid == PID_THUMBNAIL) return ERROR_UNKNOWN_PROPERTY;
    uint16_t expected = summaryPropertyType(pid);
    if (!expected) return ERROR_UNKNOWN_PROPERTY;
    if (type != expected) return ERROR_DATATYPE_MISMATCH;
    if (type == VT_LPSTR && !text) return ERROR_INVALID_PARAMETER;
    if (type == VT_FILETIME && !ft) return ERROR_INVALID_PARAMETER;
    auto& props = obj->info.properties;
    if (obj->updateCount == 0) return ERROR_FUNCTION_FAILED;
    SummaryProperty p;
    p.type = uint16_t(type);
    if (type == VT_I2) p.integer = int16_t(value);
    else if (type == VT_I4) p.integer = value;
    else if (type == VT_FILETIME) p.filetime = ft->dwLowDateTime | (uint64_t(ft->dwHighDateTime) << 32);
    else p.text = *text;
    props[pid] = std::move(p);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

UINT WINAPI MsiGetSummaryInformationW(MSIHANDLE hdb, LPCWSTR path, UINT updateCount, MSIHANDLE* out) {
    return getSummary(hdb, path ? nativePathOf(path) : std::nullopt, path != nullptr, updateCount, out);
}

UINT WINAPI MsiGetSummaryInformationA(MSIHANDLE hdb, LPCSTR path, UINT updateCount, MSIHANDLE* out) {
    return getSummary(hdb, path ? nativePathOfNarrow(path) : std::nullopt, path != nullptr, updateCount, out);
}

UINT WINAPI MsiSummaryInfoGetPropertyCount(MSIHANDLE h, UINT* count) {
    std::lock_guard lock(apiLock());
    auto obj = handleAs<SummaryObject>(h);
    if (!obj) return ERROR_INVALID_HANDLE;
    if (count) *count = UINT(obj->info.properties.size());
    return ERROR_SUCCESS;
}

UINT WINAPI MsiSummaryInfoGetPropertyW(MSIHANDLE h, UINT pid, UINT* type, INT* value, FILETIME* ft, LPWSTR buffer,
                                       DWORD* count) {
    return getProperty(h, pid, type, value, ft, buffer, count);
}

UINT WINAPI MsiSummaryInfoGetPropertyA(MSIHANDLE h, UINT pid, UINT* type, INT* value, FILETIME* ft, LPSTR buffer,
                                       DWORD* count) {
    return getProperty(h, pid, type, value, ft, buffer, count);
}

UINT WINAPI MsiSummaryInfoSetPropertyW(MSIHANDLE h, UINT pid, UINT type, INT value, FILETIME* ft, LPCWSTR text) {
    std::u16string s = wideOf(text);
    return setProperty(h, pid, type, value, ft, text ? &s : nullptr);
}

UINT WINAPI MsiSummaryInfoSetPropertyA(MSIHANDLE h, UINT pid, UINT type, INT value, FILETIME* ft, LPCSTR text) {
    std::u16string s = wideOf(text);
    return setProperty(h, pid, type, value, ft, text ? &s : nullptr);
}

UINT WINAPI MsiSummaryInfoPersist(MSIHANDLE h) {
    std::lock_guard lock(apiLock());
    auto obj = handleAs<SummaryObject>(h);
    if (!obj) return ERROR_INVALID_HANDLE;
    if (obj->updateCount == 0 || !obj->db->writable()) return ERROR_FUNCTION_FAILED;
    auto bytes = encodeSummaryInfo(obj->info);
    if (!bytes) return ERROR_FUNCTION_FAILED;
    if (UINT r = obj->db->writeStream(kSummaryStream, winsys::cfb::bytesSource(std::move(*bytes)))) return r;
    if (obj->ownsDatabase) return obj->db->commit();
    return ERROR_SUCCESS;
}
}
