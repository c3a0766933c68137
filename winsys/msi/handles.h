// MSIHANDLE table: 32-bit numbers for databases, views, records and summary
// information. A handle belongs to the thread that obtained it, which is what
// MsiCloseAllHandles closes. One lock serialises every Installer call.
#pragma once

#include <msi.h>

#include <memory>
#include <mutex>
#include <variant>

#include "database.h"
#include "record.h"
#include "summary_info.h"
#include "view.h"

namespace winsys::msi {

struct ViewObject {
    std::shared_ptr<Database> db;
    std::unique_ptr<View> view;
};

struct SummaryObject {
    std::shared_ptr<Database> db;  // the database the stream belongs to
    bool ownsDatabase = false;     // opened from a path: persisting commits it
    SummaryInfo info;
    unsigned updateCount = 0;
};

using HandleObject = std::variant<std::shared_ptr<Database>, std::shared_ptr<ViewObject>, std::shared_ptr<Record>,
                                  std::shared_ptr<SummaryObject>>;

std::recursive_mutex& apiLock();

MSIHANDLE allocHandle(HandleObject object);
// nullptr when `h` is not a handle of that kind.
template <class T>
std::shared_ptr<T> handleAs(MSIHANDLE h);
bool closeHandle(MSIHANDLE h);
unsigned closeThreadHandles();

}  // namespace winsys::msi
