#pragma once
// What the handlers share inside the DLL: its lifetime count, the save read from Explorer's
// stream, and the one lock around drawing.
#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <mutex>
#include <string>

#include "operations/open_save.h"

namespace marrowin::shell {

// Live objects and server locks; the DLL may be unloaded only at zero.
extern std::atomic<long> liveObjects;

// Explorer may ask for thumbnails on several threads at once; one GL context at a time keeps
// the drivers (and Wine's) out of trouble.
std::mutex& drawingLock();

// Reads the stream whole, but never more than SAVE_BYTES_MAX bytes, and opens the save in it
// as the CLI opens a file of those bytes. An error HRESULT when there is no save to be had.
HRESULT openStreamSave(IStream* stream, OpenedSave& out, std::string& error);

// Creates the object a class factory stands for.
HRESULT createThumbnailProvider(REFIID riid, void** out);
HRESULT createPropertyStore(REFIID riid, void** out);

}  // namespace marrowin::shell
