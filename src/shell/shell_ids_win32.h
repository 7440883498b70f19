// The class ids Explorer and the installer know the handlers by. The installer writes the same
// values into the registry, so they never change once released.
#pragma once

#include <guiddef.h>

// {D45D5648-B3DB-44A1-B940-6CBA5DF671A0}
#define MARROWIN_THUMBNAIL_CLSID_TEXT L"{D45D5648-B3DB-44A1-B940-6CBA5DF671A0}"
inline constexpr GUID CLSID_MarrowinThumbnail = {
    0xd45d5648, 0xb3db, 0x44a1, {0xb9, 0x40, 0x6c, 0xba, 0x5d, 0xf6, 0x71, 0xa0}};

// {BCC7219A-892C-4A83-8A05-88A17FE45DD5}
#define MARROWIN_PROPERTY_CLSID_TEXT L"{BCC7219A-892C-4A83-8A05-88A17FE45DD5}"
inline constexpr GUID CLSID_MarrowinProperties = {
    0xbcc7219a, 0x892c, 0x4a83, {0x8a, 0x05, 0x88, 0xa1, 0x7f, 0xe4, 0x5d, 0xd5}};

// Explorer asks this key under each extension's ShellEx for a thumbnail provider.
#define MARROWIN_THUMBNAIL_SHELLEX_KEY L"{e357fccd-a995-4576-b01f-234630154e96}"

// IThumbnailProvider's interface id (the same GUID as the ShellEx key); mingw's uuid library
// lacks it.
inline constexpr GUID IID_MarrowinThumbnailProvider = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};
