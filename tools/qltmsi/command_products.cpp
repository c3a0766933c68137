// qltmsi products: the installed products, one a line.
#include <windows.h>
#include <msi.h>

#include <cstdio>

#include "cli_text.h"
#include "command_table.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi products\n"
    "\n"
    "Lists the products Windows Installer knows in the prefix, one a line, with\n"
    "tabs between: product code, name, version, cached package. On POSIX hosts\n"
    "they are the products 'qltmsi install' put in place, which is not a full\n"
    "installer (see 'qltmsi install --help').\n";

WideString productInfo(const WCHAR* product, const WCHAR* property) {
    DWORD count = 0;
    if (MsiGetProductInfoW(product, property, nullptr, &count) != ERROR_SUCCESS)
        return {};
    WideString value(count + 1, TEXT('\0'));
    count += 1;
    if (MsiGetProductInfoW(product, property, value.data(), &count) != ERROR_SUCCESS)
        return {};
    value.resize(count);
    return value;
}

int run(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "qltmsi products: unexpected argument '%s'\n", args[0].c_str());
        return kExitUsage;
    }
    WCHAR code[39];
    for (DWORD index = 0; MsiEnumProductsW(index, code) == ERROR_SUCCESS; ++index) {
        std::printf("%s\t%s\t%s\t%s\n", toUtf8(code).c_str(),
                    toUtf8(productInfo(code, INSTALLPROPERTY_PRODUCTNAME)).c_str(),
                    toUtf8(productInfo(code, INSTALLPROPERTY_VERSIONSTRING)).c_str(),
                    toUtf8(productInfo(code, INSTALLPROPERTY_LOCALPACKAGE)).c_str());
    }
    return kExitOk;
}

}  // namespace

QLTMSI_COMMAND("products", "list the installed products", kHelp, run);

}  // namespace qltmsi
