// The properties and environment of the system that qltmsi install stands in
// for, which conditions read: Windows 10, 64-bit unless asked for 32-bit, an
// administrator installing for all users, no product of this code installed.
#pragma once

#include <map>

#include "cli_text.h"

namespace qltmsi::install {

std::map<WideString, WideString> systemProperties(bool is64Bit);
std::map<WideString, WideString> systemEnvironment(bool is64Bit);

}  // namespace qltmsi::install
