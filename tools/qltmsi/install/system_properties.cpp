// Values as Windows Installer 5 sets them on Windows 10 (which it reports as
// VersionNT 603, build 9600) on an x64 or x86 processor of level 6.
#include "install/system_properties.h"

#include <windows.h>

namespace qltmsi::install {

std::map<WideString, WideString> systemProperties(bool is64Bit) {
    std::map<WideString, WideString> p = {
        {TEXT("VersionNT"), TEXT("603")},
        {TEXT("WindowsBuild"), TEXT("9600")},
        {TEXT("ServicePackLevel"), TEXT("0")},
        {TEXT("ServicePackLevelMinor"), TEXT("0")},
        {TEXT("MsiNTProductType"), TEXT("1")},
        {TEXT("VersionMsi"), TEXT("5.00")},
        {TEXT("VersionDatabase"), TEXT("500")},
        {TEXT("Intel"), TEXT("6")},
        {TEXT("AdminUser"), TEXT("1")},
        {TEXT("Privileged"), TEXT("1")},
        {TEXT("ALLUSERS"), TEXT("1")},
        {TEXT("SystemLanguageID"), TEXT("1033")},
        {TEXT("UserLanguageID"), TEXT("1033")},
        {TEXT("ProductState"), TEXT("-1")},
        {TEXT("UILevel"), TEXT("2")},
        {TEXT("PhysicalMemory"), TEXT("8192")},
        {TEXT("ComputerName"), TEXT("QLTMSI")},
        {TEXT("LogonUser"), TEXT("user")},
        {TEXT("ColorBits"), TEXT("32")},
        {TEXT("ScreenX"), TEXT("1920")},
        {TEXT("ScreenY"), TEXT("1080")},
        {TEXT("INSTALLLEVEL"), TEXT("1")},
    };
    if (is64Bit) {
        p[TEXT("VersionNT64")] = TEXT("603");
        p[TEXT("Msix64")] = TEXT("6");
    }
    return p;
}

std::map<WideString, WideString> systemEnvironment(bool is64Bit) {
    std::map<WideString, WideString> e = {
        {TEXT("SystemRoot"), TEXT("C:\\windows")},
        {TEXT("windir"), TEXT("C:\\windows")},
        {TEXT("SystemDrive"), TEXT("C:")},
        {TEXT("ProgramFiles"), TEXT("C:\\Program Files")},
        {TEXT("ProgramData"), TEXT("C:\\ProgramData")},
        {TEXT("ALLUSERSPROFILE"), TEXT("C:\\ProgramData")},
        {TEXT("OS"), TEXT("Windows_NT")},
        {TEXT("NUMBER_OF_PROCESSORS"), TEXT("2")},
        {TEXT("PROCESSOR_ARCHITECTURE"), is64Bit ? TEXT("AMD64") : TEXT("x86")},
        {TEXT("USERNAME"), TEXT("user")},
    };
    WCHAR temp[MAX_PATH + 1];
    if (DWORD n = GetTempPathW(MAX_PATH + 1, temp); n > 1) {
        e[TEXT("TEMP")] = WideString(temp, n - 1);
        e[TEXT("TMP")] = WideString(temp, n - 1);
    }
    return e;
}

}  // namespace qltmsi::install
