#pragma once
// Save text is Shift-JIS (code page 932); the host speaks UTF-8.
#include <string>
#include <string_view>

namespace marrowin {

// For showing to a person: valid Shift-JIS becomes UTF-8; a byte that is not valid
// Shift-JIS becomes U+FFFD. ASCII stays as it is.
std::string saveTextToDisplay(std::string_view sjis);

// For host file names: like saveTextToDisplay, except that bytes that are not valid
// Shift-JIS are kept as they are (Linux names may hold any byte but '/' and NUL), so nothing
// is lost and hostNameToSaveText gives them back. So are the few codes whose character has a
// second code (the NEC and IBM duplicates) and the user-defined codes: as UTF-8 they would
// come back as other bytes.
std::string saveTextToHostName(std::string_view sjis);

// Back from a host name: UTF-8 characters that code page 932 has become Shift-JIS; every
// other byte is kept as it is.
std::string hostNameToSaveText(std::string_view host);

// The save name a host file name is packed under, when a save can hold it faithfully:
// a UTF-8 name whose characters code page 932 has (extraction gives it back, or its usual
// spelling: "〜" comes back as "～"), or a name that is not UTF-8, taken as the raw bytes a PS2
// shows (Shift-JIS, or bytes that extraction kept raw). False for a UTF-8 name with a character Shift-JIS lacks (é, €,
// emoji): stored as raw UTF-8, it would come back as other characters.
bool hostNameToSaveName(std::string_view host, std::string& saveName);

// Length of the well-formed UTF-8 character starting at text[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0 when there is none.
size_t utf8SequenceLength(std::string_view text, size_t i);

// Makes one path component that stays inside its folder: '/' and NUL become '_', and an
// empty name, "." or ".." gets a '_' in front. Everything else is kept.
std::string safePathComponent(std::string_view hostName);

}  // namespace marrowin
