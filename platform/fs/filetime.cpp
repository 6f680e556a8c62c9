// FILETIME: the clock, local time through the host's time zone, and DOS dates.
#include <time.h>

#include "platform/fs/file.h"
#include "platform/fs/hostfs.h"

namespace win {

namespace {

constexpr long long kTicksPerSecond = 10000000LL;

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
long long daysFrom1601(int year, unsigned month, unsigned day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long daysFrom1970 = era * 146097 + static_cast<long long>(doe) - 719468;
    return daysFrom1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned daysInMonth(int year, unsigned month) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

}  // namespace

FileTime currentFileTime() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return hostfs::fromTimespec(ts);
}

FileTime fileTimeToLocal(FileTime utc) {
    // The zone's offset at that instant, so a winter date read in summer stays a winter date.
    const struct timespec ts = hostfs::toTimespec(utc);
    struct tm local {};
    if (!::localtime_r(&ts.tv_sec, &local)) return utc;
    return static_cast<FileTime>(static_cast<long long>(utc) + local.tm_gmtoff * kTicksPerSecond);
}

FileTime localToFileTime(FileTime local) {
    const struct timespec ts = hostfs::toTimespec(local);
    struct tm wall {};
    if (!::gmtime_r(&ts.tv_sec, &wall)) return local;
    wall.tm_isdst = -1;
    const time_t utc = ::mktime(&wall);
    if (utc == static_cast<time_t>(-1)) return local;
    struct timespec out {};
    out.tv_sec = utc;
    out.tv_nsec = ts.tv_nsec;
    return hostfs::fromTimespec(out);
}

bool dosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& out) {
    const unsigned day = dosDate & 0x1F;
    const unsigned month = (dosDate >> 5) & 0x0F;
    const int year = 1980 + (dosDate >> 9);
    const unsigned seconds = (dosTime & 0x1F) * 2;
    const unsigned minutes = (dosTime >> 5) & 0x3F;
    const unsigned hours = dosTime >> 11;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hours > 23 || minutes > 59 ||
        seconds > 59) {
        setLastError(err::invalidParameter);
        return false;
    }
    const long long totalSeconds =
        daysFrom1601(year, month, day) * 86400LL + hours * 3600LL + minutes * 60LL + seconds;
    out = static_cast<FileTime>(totalSeconds * kTicksPerSecond);
    return true;
}

}  // namespace win
