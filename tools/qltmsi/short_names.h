// The FileName a replacement records when it is given a new long name: a
// name that is no valid 8.3 name gets a short name beside it ("short|long"),
// unique among the short names of the files in the same folder, as Windows
// Installer's Filename type asks.
#pragma once

#include <set>
#include <string>

#include "cli_text.h"

namespace qltmsi {

// True for a valid short (8.3) name: 1 to 8 characters, at most one dot and
// then 1 to 3 more, printable ASCII without spaces or \ / : * ? " < > | + , ; = [ ].
bool isShortName(WideView name);

// NAME~N.EXT for a long name: the first letters of its name and last
// extension, upper-cased, characters a short name cannot hold made '_', and
// the smallest N that `taken` (upper-case short names) does not hold.
WideString makeShortName(WideView longName, const std::set<WideString>& taken);

// The short names (upper-cased) of the File rows in the folder of an
// installed file of a product: rows whose component has the same Directory_
// as a component whose key path lies in that folder. Throws std::runtime_error
// with the reason when the product's package cannot be read.
std::set<WideString> shortNamesBeside(const WideString& product, const WideString& installedFile);

}  // namespace qltmsi
