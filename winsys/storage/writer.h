// Writing a complete compound file from a tree: compact layout (streams,
// mini stream, MiniFAT, directory, FAT, DIFAT), no free sectors.
#pragma once

#include "storage/compound_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace winsys::cfb {

struct WriteNode {
    std::u16string name;
    EntryType type = EntryType::Stream;
    GUID clsid{};
    uint32_t stateBits = 0;
    uint64_t created = 0, modified = 0;
    std::shared_ptr<const ByteSource> content;  // streams; null = empty
    std::vector<uint32_t> children;             // storages: node indexes in name order
};

struct WriteResult {
    Version version = Version::V3;
    std::vector<uint32_t> directoryIndex;  // per node: its entry in the written directory
};

// Writes the tree whose root is nodes[0] to `fd` (an empty file). `preferred`
// is raised to version 4 when version 3 cannot hold the file.
HRESULT writeCompoundFile(int fd, const std::vector<WriteNode>& nodes, Version preferred,
                          WriteResult* result);

}  // namespace winsys::cfb
