#pragma once
// The PS2's 8-byte time stamp and the clocks that fill it. A stamp is kept exactly as stored
// (zero, seconds, minutes, hours, day, month, year as 16-bit little-endian) and copied
// verbatim between containers and cards; it is built only here.
#include <array>
#include <cstdint>

#include "base/byte_reader.h"

namespace marrowin {

using Stamp = std::array<uint8_t, 8>;

Stamp stampOf(uint16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
              uint8_t second);

// The 8-byte stamp stored at `off` (all zero where the bytes end first).
Stamp stampAt(ByteView bytes, uint64_t off);

// Unix seconds read as a civil time in UTC (an all-zero stamp outside years 1-65535), and back
// (0 for an all-zero or impossible stamp).
Stamp stampOfUnixSeconds(int64_t seconds);
int64_t unixSecondsOfStamp(const Stamp& stamp);

// Which clock "now" is read on: the host's local time (what a person packing a folder
// expects), Japan time (UTC+9, as a console stamps what it writes to a card), or UTC (what the
// emulator reads a folder card's host times as).
enum class StampClock { Local, Japan, Utc };
Stamp stampNow(StampClock clock);

}  // namespace marrowin
