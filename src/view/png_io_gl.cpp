// In the OpenGL library only because libpng is linked there; nothing here calls OpenGL.
#include "view/png_io.h"

#include <png.h>

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
    return writeOutput(path, png.data(), png.size(), mode, error);
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
