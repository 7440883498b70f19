// Placeholder until the reader and writer land.
#include "containers/save_contents.h"

namespace marrowin {

bool looksLikeMax(ByteView, uint64_t) { return false; }

ContainerRead readMax(ByteView) {
    ContainerRead r;
    r.problems.push_back({true, "this container is not supported yet"});
    return r;
}

bool writeMax(const SaveContents&, std::vector<uint8_t>&, std::string& error) {
    error = "this container is not supported yet";
    return false;
}

}  // namespace marrowin
