// Where a package's cabinets are read from: cabinet files from the folder
// beside the package, streams from a temporary folder into which they are
// copied under their own names. A cabinet that goes on in the next one of its
// set then finds it beside itself by the name its header gives.
#pragma once

#include <windows.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "cli_text.h"
#include "install/cabinet_extraction.h"

namespace qltmsi::install {

class CabinetShelf {
  public:
    // `database` is open on `holder`, the package whose streams are read;
    // cabinet files are looked for in `folder` (ending in '\').
    CabinetShelf(MSIHANDLE database, WideString holder, WideString folder)
        : database_(database), holder_(std::move(holder)), folder_(std::move(folder)) {}
    ~CabinetShelf();
    CabinetShelf(const CabinetShelf&) = delete;
    CabinetShelf& operator=(const CabinetShelf&) = delete;

    // The file to read for a Media row's Cabinet value ("#stream" or a file
    // name), and how messages name it. Throws InstallError.
    WideString place(const WideString& cabinet, std::string& display);

    // What FDI is told when a file of that cabinet goes on in the next one.
    NextCabinet nextOf(const WideString& cabinet);

  private:
    WideString saveStream(const WideString& name);

    MSIHANDLE database_;
    WideString holder_, folder_, temporary_;
    std::vector<WideString> saved_;
};

}  // namespace qltmsi::install
