#pragma once
// Save text is Shift-JIS (code page 932); the host speaks UTF-8.
#include <string>
#include <string_view>

namespace marrowin {

// How host names hold what a save holds. A Linux name may hold any byte but '/' and NUL; a
// Windows name is UTF-16 (UTF-8 inside Marrowin), so a byte that is no character cannot stand
// in it as it is: there byte 0xHH is written as the private-use character U+F0HH, which no
// code page 932 text decodes to, and reading the name gives the byte back.
enum class HostNameStyle { Posix, Windows };
#ifdef _WIN32
constexpr HostNameStyle NATIVE_HOST_NAME_STYLE = HostNameStyle::Windows;
#else
constexpr HostNameStyle NATIVE_HOST_NAME_STYLE = HostNameStyle::Posix;
#endif

// For showing to a person: valid Shift-JIS becomes UTF-8; a byte that is not valid
// Shift-JIS becomes U+FFFD. ASCII stays as it is.
std::string saveTextToDisplay(std::string_view sjis);

// For host file names: like saveTextToDisplay, except that bytes that are not valid
// Shift-JIS are kept as they are (escaped in the Windows style), so nothing is lost and
// hostNameToSaveText gives them back. So are the few codes whose character has a
// second code (the NEC and IBM duplicates) and the user-defined codes: as UTF-8 they would
// come back as other bytes.
std::string saveTextToHostName(std::string_view sjis, HostNameStyle style = NATIVE_HOST_NAME_STYLE);

// Back from a host name: UTF-8 characters that code page 932 has become Shift-JIS; every
// other byte is kept as it is (in the Windows style, U+F080-U+F0FF become their bytes).
std::string hostNameToSaveText(std::string_view host, HostNameStyle style = NATIVE_HOST_NAME_STYLE);

// The save name a host file name is packed under, when a save can hold it faithfully:
// a UTF-8 name whose characters code page 932 has (extraction gives it back, or its usual
// spelling: "〜" comes back as "～"), or a name that is not UTF-8, taken as the raw bytes a PS2
// shows (Shift-JIS, or bytes that extraction kept raw). False for a UTF-8 name with a character
// Shift-JIS lacks (é, €, emoji), and for a broken UTF-8 name ("bad\xC3"): stored as they
// stand, they would come back as other characters.
bool hostNameToSaveName(std::string_view host, std::string& saveName,
                        HostNameStyle style = NATIVE_HOST_NAME_STYLE);

// Length of the well-formed UTF-8 character starting at text[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0 when there is none.
size_t utf8SequenceLength(std::string_view text, size_t i);

// Makes one path component that stays inside its folder: '/' and NUL become '_', and an
// empty name, "." or ".." gets a '_' in front. With windowsSafe (always on Windows) the name
// is also one Windows takes as it stands: '\' ':' '*' '?' '"' '<' '>' '|' and control
// characters become '_', a trailing dot or space becomes '_', and a device name (CON, PRN,
// AUX, NUL, COM0-9, LPT0-9, with any extension, in any letter case) gets a '_' in front.
std::string safePathComponent(std::string_view hostName,
                              bool windowsSafe = NATIVE_HOST_NAME_STYLE == HostNameStyle::Windows);

// Why Windows would not take hostName as a file name as it stands ("holds ':'", ...), or
// empty when it would. '/' and NUL, which no host takes, are not its concern.
std::string windowsNameProblem(std::string_view hostName);

}  // namespace marrowin
