#pragma once
// What the card window shows and does, shared by its wx and Win32 shells: one card (an image or
// a PCSX2 folder card) or a set of loose save files, its saves as rows, the card's room, and
// every change through the same CardChange protocol the CLI uses. No toolkit and no GL here:
// the shells only draw rows, ask the user and call these.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/save_image.h"
#include "base/host_files.h"
#include "base/problem.h"
#include "base/time_stamp.h"
#include "containers/save_contents.h"

namespace marrowin::cards {

enum class SourceKind { None, CardImage, FolderCard, LooseSaves };

struct SaveRow {
    std::string folder;       // the save's folder name, save text (raw bytes): the key for changes
    std::string folderShown;  // the same for the eye (UTF-8, control characters escaped)
    std::string title;        // icon.sys title as the console shows it (UTF-8); "" without one
    uint64_t bytes = 0;       // room it takes: clusters × cluster size on a card; file data for loose saves
    uint32_t clusters = 0;    // on a card; for a loose save, what it would take on a standard card
    Stamp modified{};
    int errors = 0;           // from the check of this save (card check or archive check)
    int warnings = 0;
    std::string firstProblem; // the first error (else warning), for a tooltip; "" when clean
    // Loose saves only: the file and its container.
    std::string sourcePath;
    ContainerKind container = ContainerKind::Unknown;
};

struct CardSpace {
    uint32_t freeClusters = 0;
    uint32_t totalClusters = 0;  // usable clusters of the card's file system
    uint32_t clusterSize = 1024;
};

// "7,940 of 7,999 clusters free"; digits grouped by commas, as the CLI's card ls shows them.
std::string spaceText(const CardSpace& space);

// One save being put on the card, as the shell is asked about it.
struct ImportQuestion {
    std::string path;           // the file it comes from
    std::string folderShown;
    std::string incomingTitle;  // UTF-8
    std::string existingTitle;  // the save of that name already on the card
};
// Asked before a save of the same name on the card is replaced: true replaces it.
using AskReplace = std::function<bool(const ImportQuestion&)>;
// Asked before a file of the same name in the export folder is replaced: true replaces it.
using AskOverwrite = std::function<bool(const std::string& path)>;
// Long work reports how far it has come; false from it stops before the next save.
using Progress = std::function<bool(size_t done, size_t total)>;

struct ImportOutcome {
    enum class Kind { Imported, Replaced, Skipped, NoRoom, Failed };
    std::string path;
    Kind kind = Kind::Failed;
    std::string message;  // the library's words (why it failed, or how much room it needs)
};

enum class NewCardKind { ImageWithEcc, ImageWithoutEcc, Folder };

class CardsModel {
public:
    CardsModel();
    ~CardsModel();

    // Opens what the user named: one card (told by content, any name; or a folder card), or
    // one or more save files in any container (loose saves). Nothing is locked while open.
    // False with a message naming the path; the model then holds what it held before.
    bool open(const std::vector<std::string>& paths, std::string& error);
    void close();

    SourceKind kind() const;
    bool isCard() const { return kind() == SourceKind::CardImage || kind() == SourceKind::FolderCard; }
    // The card's path, or the first loose save's; "" when nothing is open.
    const std::string& path() const;
    // The window caption's name for what is open: the card's or the file's base name.
    std::string displayName() const;
    const std::vector<SaveRow>& rows() const;
    // Problems of the whole card found on opening (ECC, file system), beside the rows' own.
    const std::vector<Problem>& cardProblems() const;
    CardSpace space() const;
    // What the rows would take on this card (or a standard card, for loose saves), in clusters.
    uint32_t clustersNeeded(const std::vector<size_t>& rows) const;

    // Whether the card (or a loose save) changed on disk since it was read: another program, the
    // CLI. Cheap (file state only); the shells call it from a timer and when they get focus.
    bool changedOnDisk() const;
    // Reads everything again; the rows keep their order by folder name.
    bool reload(std::string& error);
    // How long a change waits for another program's change of the card to end (CardChange's
    // wait by default).
    void setLockWait(int waitMs);

    // The save of a row as read, and as a save archive for pictures and the live view.
    bool saveOf(size_t row, SaveContents& out, std::string& error) const;
    bool imageOf(size_t row, SaveImage& out, std::string& error) const;

    // Changes: each locks the card for its own length only (CardChange), refuses what the CLI
    // refuses, writes the whole card beside and keeps CARD.bak, then rereads the rows.
    // Every file in any container; a card image among them is refused, naming it.
    std::vector<ImportOutcome> importFiles(const std::vector<std::string>& files, const AskReplace& ask,
                                           const Progress& progress = {});
    // The selected saves into `folder`, one file each named as the CLI's card export names them,
    // in `container`. Never replaces a file without asking. `written` gets the paths written.
    bool exportSaves(const std::vector<size_t>& rows, const std::string& folder, ContainerKind container,
                     const AskOverwrite& ask, std::vector<std::string>& written, std::string& error,
                     const Progress& progress = {});
    bool deleteSaves(const std::vector<size_t>& rows, std::string& error);
    // The whole card's check, as text the report window shows: one line per problem, or a line
    // that says the card is fine.
    std::string checkReport() const;
    // Formats a new card at `path`, never replacing a file or folder that is there.
    static bool newCard(const std::string& path, NewCardKind kind, std::string& error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Pictures of each row's normal icon for the list, drawn by the off-screen renderer the shell
// provides (no GL here) and kept by the save's identity (path, folder, modified, size), so a
// reload redraws only what changed.
class PictureDrawer {
public:
    virtual ~PictureDrawer() = default;
    // RGBA, rows top-down, straight alpha (0 where nothing was drawn), size × size.
    virtual bool draw(const SaveImage& image, uint32_t size, std::vector<uint8_t>& rgba, std::string& error) = 0;
};

class PictureCache {
public:
    PictureCache(PictureDrawer& drawer, uint32_t size);
    // The picture of a row, drawn on first asking; empty when the save has no drawable icon.
    // The reference stays valid until clear() (or the cache goes).
    const std::vector<uint8_t>& pictureOf(const CardsModel& model, size_t row);
    uint32_t size() const { return size_; }
    void clear();

private:
    struct Entry {
        std::string key;
        std::vector<uint8_t> rgba;
    };
    PictureDrawer& drawer_;
    uint32_t size_;
    std::deque<Entry> entries_;  // a deque: pictures handed out stay where they are
};

}  // namespace marrowin::cards
