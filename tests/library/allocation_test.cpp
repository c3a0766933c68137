// A patch context that cannot be allocated: the open fails cleanly, nothing
// is left half made, and the locks are free. The test program's own
// allocator refuses blocks of the context's size on request.
#include "library_test_support.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> refuseBlocksFrom{0};
}

void* operator new(std::size_t size) {
    const size_t limit = refuseBlocksFrom.load();
    if (limit != 0 && size >= limit)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
// This pair is the allocator: blocks from the new above go back through free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
#pragma GCC diagnostic pop

namespace library_test {
namespace {

class Allocation : public LibraryTest {};

TEST_F(Allocation, AContextThatCannotBeMadeFailsTheOpenWithNothingLeft) {
    const int handle = QLTMsiOpen();
    refuseBlocksFrom = sizeof(PatchContext);
    const DWORD status = QLTMsiOpenDatabase(handle, u"{6F4A1D2C-1111-2222-3333-444455556666}",
                                            nullptr, nullptr, nullptr, nullptr);
    refuseBlocksFrom = 0;
    EXPECT_EQ(status, QLTMSI_ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(libraryState.currentContext, nullptr);
    EXPECT_EQ(QLTMsiGetLastErrorStrA(handle), nullptr);
    EXPECT_EQ(OnOtherThread([&] { return QLTMsiCloseDatabase(handle); }),
              QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

}  // namespace
}  // namespace library_test
