// Importing a fixed small save into an untrusted memory card (built from the input as in
// fuzz_card_read.cpp, whose builder this shares). When the import succeeds, the card must show
// no fault it did not have before and must export the same files; when it refuses, the image
// must be unchanged.
#define CARD_FUZZ_NO_MAIN
#include "fuzz_card_read.cpp"

#include <algorithm>

namespace {

SaveContents fixedSave() {
    SaveContents s;
    s.folderName = "BESCES-99999FUZZ";
    s.created = stampOf(2021, 5, 6, 7, 8, 9);
    s.modified = stampOf(2021, 5, 6, 7, 8, 10);
    s.attribute = 3;
    s.files.push_back(fileOf("icon.sys", 964, 5));
    s.files.push_back(fileOf("data", 3000, 11));
    s.files.push_back(fileOf("none", 0, 1));
    return s;
}

// File system errors only: ECC messages name pages (the first few, then a count), so a page the
// import rewrote changes their text without anything new being wrong.
std::vector<std::string> errorsOf(const std::vector<Problem>& problems) {
    std::vector<std::string> out;
    for (const Problem& p : problems)
        if (p.severity == Severity::Error && p.text.find("ECC") == std::string::npos &&
            p.text.find("beyond repair") == std::string::npos)
            out.push_back(p.text);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const SaveContents save = fixedSave();
    MemoryCard card;
    std::vector<Problem> problems;
    std::string error;
    if (!MemoryCard::open(cardFromInput(data, size), card, problems, error)) return 0;
    std::vector<std::string> before = errorsOf(card.check());
    std::vector<uint8_t> image = card.image();
    bool replace = size > 0 && (data[0] & 4);
    if (!card.importSave(save, replace, error)) {
        if (card.image() != image) __builtin_trap();
        return 0;
    }
    // A page fault the import overwrote may be gone; nothing may be new.
    for (const std::string& e : errorsOf(card.check()))
        if (!std::binary_search(before.begin(), before.end(), e)) __builtin_trap();
    SaveContents back;
    if (!card.exportSave(save.folderName, back, error)) __builtin_trap();
    if (back.files.size() != save.files.size()) __builtin_trap();
    for (size_t i = 0; i < save.files.size(); ++i)
        if (back.files[i].name != save.files[i].name || back.files[i].data != save.files[i].data ||
            back.files[i].created != save.files[i].created)
            __builtin_trap();
    return 0;
}
