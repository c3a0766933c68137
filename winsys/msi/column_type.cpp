// Text form of column types.
#include "column_type.h"

namespace winsys::msi {

std::string columnTypeText(uint16_t t) {
    char letter;
    if (isBinaryType(t)) letter = 'v';
    else if (isStringType(t)) letter = isTemporaryType(t) ? 'g' : ((t & coltype::kLocalizable) ? 'l' : 's');
    else letter = isTemporaryType(t) ? 'j' : 'i';
    if (t & coltype::kUnknown) letter = 'f';
    if (isNullableType(t)) letter = char(letter - 'a' + 'A');
    return std::string(1, letter) + std::to_string(t & coltype::kSizeMask);
}

}  // namespace winsys::msi
