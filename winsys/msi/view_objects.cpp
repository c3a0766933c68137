// OBJECT data: the streams behind binary cells of user tables, and the rows
// of _Streams and _Storages, written from the stream a record field holds.
#include <unistd.h>

#include <vector>

#include "column_type.h"
#include "view_internal.h"

namespace winsys::msi::views {

std::shared_ptr<const cfb::ByteSource> emptyStream() { return cfb::bytesSource({}); }

// Writes a row's OBJECT data through the database.
UINT writeObjects(Database& db, Table& t, const Cells& cells, const std::vector<const Field*>& objects,
                  const Cells* previous) {
    for (size_t c = 0; c < t.columns.size(); ++c) {
        if (!isBinaryType(t.columns[c].type)) continue;
        const Field* f = c < objects.size() ? objects[c] : nullptr;
        if (cells[c] && f && f->kind == Field::Kind::Stream) {
            if (UINT r = db.writeStream(db.objectStreamName(t, cells), f->stream)) return r;
        } else if (!cells[c] && previous && (*previous)[c]) {
            db.removeStream(db.objectStreamName(t, cells));
        }
    }
    return ERROR_SUCCESS;
}

UINT storageFromField(Database& db, std::u16string_view name, const Field* f) {
    if (!f || f->kind != Field::Kind::Stream) return ERROR_INVALID_DATA;
    if (!f->sourcePath.empty()) return db.writeStorage(name, f->sourcePath);
    char path[] = "/tmp/qltmsi-storage-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return ERROR_FUNCTION_FAILED;
    std::vector<char> buffer(65536);
    uint64_t offset = 0;
    bool ok = true;
    while (ok) {
        size_t done = 0;
        if (FAILED(f->stream->readAt(offset, buffer.data(), buffer.size(), &done))) ok = false;
        if (done == 0) break;
        if (::write(fd, buffer.data(), done) != ssize_t(done)) ok = false;
        offset += done;
    }
    ::close(fd);
    UINT r = ok ? db.writeStorage(name, path) : ERROR_FUNCTION_FAILED;
    ::unlink(path);
    return r;
}

}  // namespace winsys::msi::views
