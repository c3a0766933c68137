// FILETIME conversions: system time, local time and MS-DOS date and time.
#include <time.h>
#include <windows.h>

#include "kernel/file_support.h"

namespace {

constexpr unsigned long long ticksPerSecond = 10000000ULL;
constexpr unsigned long long ticksPerDay = ticksPerSecond * 86400ULL;

unsigned long long ticksOf(const FILETIME& ft) {
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME fromTicks(unsigned long long ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

// Days since 1601-01-01 for a proleptic Gregorian date, and back.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468 /* to 1970 */ +
           134774 /* 1601 to 1970 */;
}

void civilFromDays(long long days, long long& y, unsigned& m, unsigned& d) {
    long long z = days - 134774 + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool isLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(unsigned y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// The local time offset, in seconds east of UTC, at a UTC instant.
long localOffset(time_t utc) {
    struct tm local;
    if (!localtime_r(&utc, &local))
        return 0;
    return local.tm_gmtoff;
}

constexpr long long unixEpochTicks = 116444736000000000LL;

}  // namespace

extern "C" {

WINSYS_EXPORT BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
    if (!ft || !st)
        return winsys::kernel::failWith(ERROR_NOACCESS);
    unsigned long long ticks = ticksOf(*ft);
    if (ticks > 0x7FFFFFFFFFFFFFFFULL)
        return winsys::kernel::failWith(ERROR_INVALID_PARAMETER);
    long long days = static_cast<long long>(ticks / ticksPerDay);
    unsigned long long rest = ticks % ticksPerDay;
    long long year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    st->wYear = static_cast<WORD>(year);
    st->wMonth = static_cast<WORD>(month);
    st->wDay = static_cast<WORD>(day);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st->wHour = static_cast<WORD>(rest / (ticksPerSecond * 3600));
    st->wMinute = static_cast<WORD>(rest / (ticksPerSecond * 60) % 60);
    st->wSecond = static_cast<WORD>(rest / ticksPerSecond % 60);
    st->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
    if (!st || !ft)
        return winsys::kernel::failWith(ERROR_NOACCESS);
    if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 ||
        st->wDay < 1 || st->wDay > daysInMonth(st->wYear, st->wMonth) || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999)
        return winsys::kernel::failWith(ERROR_INVALID_PARAMETER);
    long long days = daysFromCivil(st->wYear, st->wMonth, st->wDay);
    unsigned long long ticks =
        static_cast<unsigned long long>(days) * ticksPerDay +
        ((st->wHour * 3600ULL + st->wMinute * 60ULL + st->wSecond) * ticksPerSecond) +
        st->wMilliseconds * 10000ULL;
    *ft = fromTicks(ticks);
    return TRUE;
}

WINSYS_EXPORT void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft) {
    if (!ft)
        return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *ft = winsys::kernel::toFileTime(now);
}

WINSYS_EXPORT BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* utc, LPFILETIME local) {
    if (!utc || !local)
        return winsys::kernel::failWith(ERROR_NOACCESS);
    long long ticks = static_cast<long long>(ticksOf(*utc));
    time_t seconds =
        static_cast<time_t>((ticks - unixEpochTicks) / static_cast<long long>(ticksPerSecond));
    *local = fromTicks(static_cast<unsigned long long>(
        ticks + localOffset(seconds) * static_cast<long long>(ticksPerSecond)));
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME utc) {
    if (!local || !utc)
        return winsys::kernel::failWith(ERROR_NOACCESS);
    long long ticks = static_cast<long long>(ticksOf(*local));
    time_t seconds =
        static_cast<time_t>((ticks - unixEpochTicks) / static_cast<long long>(ticksPerSecond));
    // The offset at the local instant read as UTC, corrected once for a
    // daylight-saving change between the two.
    long offset = localOffset(seconds);
    offset = localOffset(seconds - offset);
    *utc = fromTicks(
        static_cast<unsigned long long>(ticks - offset * static_cast<long long>(ticksPerSecond)));
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI FileTimeToDosDateTime(const FILETIME* ft, LPWORD date, LPWORD time) {
    if (!ft || !date || !time)
        return winsys::kernel::failWith(ERROR_NOACCESS);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(ft, &st))
        return FALSE;
    if (st.wYear < 1980 || st.wYear > 2107)
        return winsys::kernel::failWith(ERROR_INVALID_PARAMETER);
    *date = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    *time = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI DosDateTimeToFileTime(WORD date, WORD time, LPFILETIME ft) {
    if (!ft)
        return winsys::kernel::failWith(ERROR_NOACCESS);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(1980 + (date >> 9));
    st.wMonth = (date >> 5) & 0x0F;
    st.wDay = date & 0x1F;
    st.wHour = time >> 11;
    st.wMinute = (time >> 5) & 0x3F;
    st.wSecond = static_cast<WORD>((time & 0x1F) * 2);
    return SystemTimeToFileTime(&st, ft);
}
}
