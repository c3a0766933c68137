// Record calls: MsiCreateRecord, MsiRecord*.
#include <msiquery.h>


#include "api_support.h"
#include "handles.h"
#include "storage/sources.h"

using namespace winsys::msi;

namespace {

Field* fieldOf(const std::shared_ptr<Record>& rec, UINT field) {
    if (!rec || field > rec->count()) return nullptr;
    return &rec->fields[field];
}

std::u16string fieldText(const Field& f) {
    if (f.kind == Field::Kind::String) return f.text;
    if (f.kind == Field::Kind::Integer) {
        std::string s = std::to_string(f.integer);
        return std::u16string(s.begin(), s.end());
    }
    return {};
}

template <class Ch>
UINT getString(MSIHANDLE h, UINT field, Ch* buffer, DWORD* count) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (buffer && !count) return ERROR_INVALID_PARAMETER;
    Field* f = fieldOf(rec, field);
    if (f && f->kind == Field::Kind::Stream) return ERROR_INVALID_DATATYPE;
    return copyOut(f ? fieldText(*f) : std::u16string(), buffer, count);
}

UINT setString(MSIHANDLE h, UINT field, std::u16string value) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return ERROR_INVALID_HANDLE;
    Field* f = fieldOf(rec, field);
    if (!f) return ERROR_INVALID_PARAMETER;
    *f = Field();
    if (!value.empty()) {
        f->kind = Field::Kind::String;
        f->text = std::move(value);
    }
    return ERROR_SUCCESS;
}

UINT setStream(MSIHANDLE h, UINT field, const std::optional<std::string>& path, bool pathGiven) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (field == 0) return ERROR_INVALID_PARAMETER;
    Field* f = fieldOf(rec, field);
    if (!f) return ERROR_INVALID_PARAMETER;
    if (!pathGiven) {
        // No path: the stream already in the field starts over.
        if (f->kind != Field::Kind::Stream) return ERROR_INVALID_FIELD;
        f->position = 0;
        return ERROR_SUCCESS;
    }
    if (!path) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const winsys::cfb::ByteSource> contents;
    switch (HRESULT hr = winsys::cfb::fileSource(*path, &contents)) {
    case S_OK: break;
    case STG_E_READFAULT: return ERROR_FUNCTION_FAILED;
    case STG_E_INSUFFICIENTMEMORY: return ERROR_OUTOFMEMORY;
    default: (void)hr; return ERROR_FILE_NOT_FOUND;
    }
    *f = Field();
    f->kind = Field::Kind::Stream;
    f->stream = std::move(contents);
    f->sourcePath = *path;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
    std::lock_guard lock(apiLock());
    if (cParams > 65535) return 0;
    return allocHandle(std::make_shared<Record>(cParams));
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE h) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    return rec ? rec->count() : UINT(-1);
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE h, UINT field) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return FALSE;
    Field* f = fieldOf(rec, field);
    return !f || f->kind == Field::Kind::Null;
}

UINT WINAPI MsiRecordDataSize(MSIHANDLE h, UINT field) {
    std::lock_guard lock(apiLock());
    Field* f = fieldOf(handleAs<Record>(h), field);
    if (!f) return 0;
    switch (f->kind) {
    case Field::Kind::String: return UINT(f->text.size());
    case Field::Kind::Integer: return sizeof(int);
    case Field::Kind::Stream: return UINT(f->stream->size());
    default: return 0;
    }
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE h, UINT field, int value) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return ERROR_INVALID_HANDLE;
    Field* f = fieldOf(rec, field);
    if (!f) return ERROR_INVALID_PARAMETER;
    *f = Field();
    if (value != int(MSI_NULL_INTEGER)) {
        f->kind = Field::Kind::Integer;
        f->integer = value;
    }
    return ERROR_SUCCESS;
}

int WINAPI MsiRecordGetInteger(MSIHANDLE h, UINT field) {
    std::lock_guard lock(apiLock());
    Field* f = fieldOf(handleAs<Record>(h), field);
    if (!f) return int(MSI_NULL_INTEGER);
    if (f->kind == Field::Kind::Integer) return f->integer;
    if (f->kind != Field::Kind::String) return int(MSI_NULL_INTEGER);
    const std::u16string& s = f->text;
    size_t i = (s[0] == u'-' || s[0] == u'+') ? 1 : 0;
    if (i >= s.size()) return int(MSI_NULL_INTEGER);
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') return int(MSI_NULL_INTEGER);
        v = v * 10 + (s[i] - u'0');
        if (v > 0x80000000LL) return int(MSI_NULL_INTEGER);
    }
    if (s[0] == u'-') v = -v;
    if (v > 0x7FFFFFFF) return int(MSI_NULL_INTEGER);
    return int(v);
}

UINT WINAPI MsiRecordClearData(MSIHANDLE h) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return ERROR_INVALID_HANDLE;
    for (Field& f : rec->fields) f = Field();
    return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE h, UINT field, LPCWSTR value) { return setString(h, field, wideOf(value)); }
UINT WINAPI MsiRecordSetStringA(MSIHANDLE h, UINT field, LPCSTR value) { return setString(h, field, wideOf(value)); }

UINT WINAPI MsiRecordGetStringW(MSIHANDLE h, UINT field, LPWSTR buffer, DWORD* count) {
    return getString(h, field, buffer, count);
}
UINT WINAPI MsiRecordGetStringA(MSIHANDLE h, UINT field, LPSTR buffer, DWORD* count) {
    return getString(h, field, buffer, count);
}

UINT WINAPI MsiRecordSetStreamW(MSIHANDLE h, UINT field, LPCWSTR path) {
    return setStream(h, field, path ? nativePathOf(path) : std::nullopt, path != nullptr);
}
UINT WINAPI MsiRecordSetStreamA(MSIHANDLE h, UINT field, LPCSTR path) {
    return setStream(h, field, path ? nativePathOfNarrow(path) : std::nullopt, path != nullptr);
}

UINT WINAPI MsiRecordReadStream(MSIHANDLE h, UINT field, char* buffer, DWORD* count) {
    std::lock_guard lock(apiLock());
    auto rec = handleAs<Record>(h);
    if (!rec) return ERROR_INVALID_HANDLE;
    if (!count) return ERROR_INVALID_PARAMETER;
    Field* f = fieldOf(rec, field);
    if (!f) return ERROR_INVALID_PARAMETER;
    if (f->kind == Field::Kind::Null) return ERROR_INVALID_DATA;
    if (f->kind != Field::Kind::Stream) return ERROR_INVALID_DATATYPE;
    uint64_t size = f->stream->size();
    if (!buffer) {
        *count = DWORD(size);
        return ERROR_SUCCESS;
    }
    size_t done = 0;
    if (*count > 0 && f->position < size) {
        if (FAILED(f->stream->readAt(f->position, buffer, *count, &done))) return ERROR_FUNCTION_FAILED;
    }
    f->position += done;
    *count = DWORD(done);
    return ERROR_SUCCESS;
}
}
