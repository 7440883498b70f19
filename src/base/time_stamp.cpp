#include "base/time_stamp.h"

#include <chrono>
#include <cstring>

#include "base/host_files.h"

namespace marrowin {

namespace {

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

}  // namespace

Stamp stampOf(uint16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
              uint8_t second) {
    return Stamp{0, second, minute, hour, day, month, uint8_t(year & 0xFF), uint8_t(year >> 8)};
}

Stamp stampAt(ByteView v, uint64_t off) {
    Stamp s{};
    if (v.fits(off, s.size())) std::memcpy(s.data(), v.data + off, s.size());
    return s;
}

Stamp stampOfUnixSeconds(int64_t seconds) {
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = int64_t(yoe) + era * 400 + (month <= 2);
    if (year < 1 || year > 65535) return Stamp{};
    return stampOf(uint16_t(year), uint8_t(month), uint8_t(day), uint8_t(rest / 3600),
                   uint8_t(rest / 60 % 60), uint8_t(rest % 60));
}

int64_t unixSecondsOfStamp(const Stamp& s) {
    const unsigned year = unsigned(s[6]) | unsigned(s[7]) << 8;
    const unsigned month = s[5], day = s[4];
    if (month < 1 || month > 12 || day < 1 || day > 31 || s[3] > 23 || s[2] > 59 || s[1] > 59)
        return 0;
    return daysFromCivil(year, month, day) * 86400 + s[3] * 3600 + s[2] * 60 + s[1];
}

Stamp stampNow(StampClock clock) {
    if (clock == StampClock::Local) {
        const LocalTime t = localTimeNow();
        return stampOf(t.year, t.month, t.day, t.hour, t.minute, t.second);
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    return stampOfUnixSeconds(clock == StampClock::Japan ? now + 9 * 3600 : now);
}

}  // namespace marrowin
