// Records: the numbered fields that carry values in and out of views.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/compound_file.h"
#include "table_codec.h"

namespace winsys::msi {

struct Field {
    enum class Kind { Null, Integer, String, Stream } kind = Kind::Null;
    int32_t integer = 0;
    std::u16string text;
    std::shared_ptr<const cfb::ByteSource> stream;
    uint64_t position = 0;    // read position of a stream field
    std::string sourcePath;   // native file a stream was loaded from, if any
};

// Where a fetched record came from, so that a view can write it back.
struct RowOrigin {
    uint64_t view = 0;  // serial of the view; 0 for records not fetched
    uint64_t execution = 0;
    std::vector<Cells> keys;  // one key per table of the view
};

struct Record {
    std::vector<Field> fields;  // 0..count
    RowOrigin origin;

    explicit Record(unsigned count = 0) : fields(size_t(count) + 1) {}
    unsigned count() const { return unsigned(fields.size() - 1); }
};

}  // namespace winsys::msi
