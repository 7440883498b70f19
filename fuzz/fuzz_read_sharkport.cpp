// The SharkPort reader over untrusted bytes: lengths from the file never reach past it, and
// what is read writes and reads back unchanged.
#include <cstdint>

#include "containers/sharkport_container.h"
#include "fuzz_support.h"

namespace {

using namespace marrowin;
using namespace marrowin::fuzzing;

const ContainerUnderTest SHARKPORT{looksLikeSharkPort, readSharkPort, writeSharkPort,
                                   "only a SharkPort save is read", SHARKPORT_NAME_FIELD, 0, true};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ContainerRead r = readChecked(SHARKPORT, {data, size}, size, "data comes from the file");
    if (!r.ok) return 0;
    checkWritesBack(SHARKPORT, r.contents);
    return 0;
}
