// In the OpenGL library only because libpng is linked there; nothing here calls OpenGL.
#include "view/png_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/host_files.h"

namespace marrowin {

namespace {


// libpng reports errors by longjmp; keep the message for the caller.
struct PngErrorSink {
    std::jmp_buf jump;
    char message[256] = "";
};

void onPngError(png_structp png, png_const_charp msg) {
    auto* sink = static_cast<PngErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", msg);
    std::longjmp(sink->jump, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

void appendToBuffer(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp) {}

// The whole of `data`, however the kernel splits it; errno is kept on failure.
bool writeAll(int fd, const std::vector<uint8_t>& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

enum class Created { Yes, Exists, Failed };

// A new file at path, never replacing one (written whole beside it, then given the name).
Created createNew(const std::string& path, const std::vector<uint8_t>& png, std::string& error) {
    const int err = writeNewFile(path, png.data(), png.size());
    if (err == 0) return Created::Yes;
    error = err == EEXIST ? path + " already exists" : "cannot write " + path + ": " + errnoText(err);
    return err == EEXIST ? Created::Exists : Created::Failed;
}

// Room for `size` bytes in a regular file that holds `oldSize`, made before any of its bytes
// change: on a full disk the picture that is there stays whole. 0 or an errno.
int reserveRoom(int fd, off_t oldSize, size_t size) {
    if (off_t(size) <= oldSize) return 0;
    int err = posix_fallocate(fd, 0, off_t(size));
    if (err == 0) return 0;
    // Whatever a failed reservation left past the old end goes again.
    if (ftruncate(fd, oldSize) != 0) {
        // The old bytes are whole all the same; the failure below says what went wrong.
    }
    if (err != EOPNOTSUPP && err != EINVAL && err != ENOSYS) return err;
    // A file system that cannot reserve: zeros written past the old end take the room.
    std::vector<uint8_t> zeros(size - size_t(oldSize), 0);
    size_t done = 0;
    while (done < zeros.size()) {
        const ssize_t n = ::pwrite(fd, zeros.data() + done, zeros.size() - done, oldSize + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            if (ftruncate(fd, oldSize) != 0) {
                // As above.
            }
            return err;
        }
        done += size_t(n);
    }
    return 0;
}

// Into what is already at path (following links): file managers hold the file they made
// open and read the picture back through it, a sandbox may bind just that file, and a
// device or FIFO must stay what it is.
bool writeInPlace(const std::string& path, const std::vector<uint8_t>& png, std::string& error) {
    // Not emptied at open: a regular file is emptied only once the picture has room.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == EISDIR ? path + " is a folder"
                                : "cannot write " + path + ": " + errnoText(errno);
        return false;
    }
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) {
        const int err = reserveRoom(fd, st.st_size, png.size());
        if (err != 0) {
            ::close(fd);
            error = "cannot write " + path + ": " + errnoText(err) + " (the old picture is kept)";
            return false;
        }
    }
    bool ok = writeAll(fd, png);
    // The rest of a longer old picture goes.
    if (ok && regular && ftruncate(fd, off_t(png.size())) != 0) ok = false;
    int err = errno;
    // A half picture in a regular file would be taken for a broken one; leave it empty.
    if (!ok && regular && ftruncate(fd, 0) != 0) {
        // Nothing more to do: the write has failed already and says so.
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) error = "cannot write " + path + ": " + errnoText(err);
    return ok;
}

bool writeToStandardOutput(const std::vector<uint8_t>& png, std::string& error) {
    std::fflush(stdout);
    if (!writeAll(STDOUT_FILENO, png)) {
        error = "cannot write to standard output: " + errnoText(errno);
        return false;
    }
    return true;
}

}  // namespace

bool encodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba, PngAlpha alpha,
               std::vector<uint8_t>& out, std::string& error) {
    if (width == 0 || height == 0 || rgba.size() != size_t(width) * height * 4) {
        error = "no picture to write";
        return false;
    }
    out.clear();
    PngErrorSink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onPngError,
                                              onPngWarning);
    if (!png) {
        error = "cannot start the PNG encoder";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    const bool keep = alpha == PngAlpha::Keep;
    std::vector<uint8_t> row(keep ? 0 : size_t(width) * 3);
    if (setjmp(sink.jump)) {
        png_destroy_write_struct(&png, &info);
        error = std::string("PNG encoding failed: ") + sink.message;
        return false;
    }
    if (!info) png_error(png, "out of memory");
    png_set_write_fn(png, &out, appendToBuffer, flushNothing);
    png_set_IHDR(png, info, width, height, 8, keep ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Rendered pictures are mostly flat background: a fast setting packs them almost as
    // small as the default and in a fraction of the time.
    png_set_compression_level(png, 2);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = rgba.data() + size_t(y) * width * 4;
        if (keep) {
            png_write_row(png, src);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            row[3 * x] = src[4 * x];
            row[3 * x + 1] = src[4 * x + 1];
            row[3 * x + 2] = src[4 * x + 2];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgba, PngWrite mode, std::string& error,
              PngAlpha alpha) {
    if (path.empty()) {
        error = "no output file name";
        return false;
    }
    std::vector<uint8_t> png;
    if (!encodePng(width, height, rgba, alpha, png, error)) return false;
    if (mode == PngWrite::NewFile) return createNew(path, png, error) == Created::Yes;
    if (path == "-") return writeToStandardOutput(png, error);

    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = "cannot write " + path + ": " + errnoText(errno);
            return false;
        }
        // Creating through a dangling link would put the picture where the link points,
        // somewhere the user did not name.
        if (lstat(path.c_str(), &st) == 0) {
            error = path + " is a link to nothing";
            return false;
        }
        const Created created = createNew(path, png, error);
        // Made by someone else meanwhile: write into it like any existing file.
        if (created != Created::Exists) return created == Created::Yes;
    } else if (S_ISDIR(st.st_mode)) {
        error = path + " is a folder";
        return false;
    }
    return writeInPlace(path, png, error);
}

bool readPng(const std::string& path, uint32_t& width, uint32_t& height,
             std::vector<uint8_t>& rgba, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    width = image.width;
    height = image.height;
    return true;
}

}  // namespace marrowin
