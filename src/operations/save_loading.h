#pragma once
// Every path the user gives goes through loadPath: folders are packed (when the option is
// on), files are read, recognised, named in the caption, copied, extracted and shown.
#include <string>

#include "archive/save_image.h"

namespace marrowin {

// The three options of a load; the window keeps them where it likes (its menu's check marks).
enum class LoadOption { Copy, Extract, Pack };

// What a load needs from the window around it.
class LoadHost {
public:
    virtual ~LoadHost() = default;
    virtual void setCaption(const std::string& utf8) = 0;
    // Asked when the step needs it, so a change made during a load still counts.
    virtual bool isOptionOn(LoadOption option) = 0;
    // Drops the current model: called before the image it points into is released.
    virtual void clearCurrentModel() = 0;
    // selectIcon with the given index on the (new) current image.
    virtual void selectIcon(int index) = 0;
};

class HostFile;

// Recognition looks no further than this: a file's first 1537 bytes have the kind the whole
// file has (the kinds depend on the bytes up to 1092 and on whether the file is longer
// than 1536 and 256 bytes).
constexpr uint32_t RECOGNITION_BYTES = 1537;

enum class ReadProblem { None, TooLarge, NoMemory, ReadFailed };

// An archive file read the way every loader reads it: its head first, the rest only for a
// save archive, so a large file of another kind costs neither time nor memory.
struct RecognisedRead {
    // The whole file for a save archive; otherwise only its head (up to RECOGNITION_BYTES),
    // which recognises as the file does. Empty when a save archive could not be read whole.
    SaveImage image;
    ArchiveKind kind = ArchiveKind::NotRecognized;  // the file's kind, from its head
    ReadProblem problem = ReadProblem::None;
};
// A regular file of `size` bytes, read from its start.
RecognisedRead readRecognisedFile(HostFile& file, int64_t size);
// A stream of unknown length (standard input): read to its end only for a save archive,
// and refused (TooLarge) past the largest size an image can hold.
RecognisedRead readRecognisedStream(int fd);

// The one loaded save of the process.
extern SaveImage currentSaveImage;

void loadPath(LoadHost& host, SaveImage& current, const std::string& baseCaption,
              const std::string& path);

}  // namespace marrowin
