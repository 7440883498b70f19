// Placeholder until the reader and writer land.
#include "containers/save_contents.h"

namespace marrowin {

bool looksLikeCbs(ByteView, uint64_t) { return false; }

ContainerRead readCbs(ByteView) {
    ContainerRead r;
    r.problems.push_back({true, "this container is not supported yet"});
    return r;
}

bool writeCbs(const SaveContents&, std::vector<uint8_t>&, std::string& error) {
    error = "this container is not supported yet";
    return false;
}

}  // namespace marrowin
