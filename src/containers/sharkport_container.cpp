// Placeholder until the reader and writer land.
#include "containers/save_contents.h"

namespace marrowin {

bool looksLikeSharkPort(ByteView, uint64_t) { return false; }

ContainerRead readSharkPort(ByteView) {
    ContainerRead r;
    r.problems.push_back({true, "this container is not supported yet"});
    return r;
}

bool writeSharkPort(const SaveContents&, std::vector<uint8_t>&, std::string& error) {
    error = "this container is not supported yet";
    return false;
}

}  // namespace marrowin
