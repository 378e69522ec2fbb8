// The gdk-pixbuf loader module for ZOLT files: every program built on
// gdk-pixbuf (image viewers, file choosers, gdk-pixbuf-thumbnailer) opens
// them through it. Read only.
//
// The file is taken as a stream, whole (load) or in chunks of any size
// (begin_load, load_increment, stop_load), by one state machine: the header,
// then the pixels, then the tag and palette. The palette comes last, so each
// pixel's index waits in the first byte of its place in the RGB pixbuf and the
// colours are filled in when the palette has arrived. Where the caller asks for
// a smaller size (thumbnailers do), each pixel of the result samples the
// source pixel at its centre as the rows stream past, so that memory follows
// the result's size, not the file's.
//
// Every file is untrusted: a thumbnailer opens whatever lands in a folder.
// Sizes are checked before anything is allocated, allocation failures and
// damaged files give a GError, and no code path reads or writes outside the
// pixbuf or the row buffer.

// The module interface is gdk-pixbuf's backend part.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "zoltfile.h"

namespace {

enum class Stage { kHeader, kPixels, kTail, kDone, kFailed };

struct Context {
  GdkPixbufModuleSizeFunc sizeFunc;
  GdkPixbufModulePreparedFunc preparedFunc;
  GdkPixbufModuleUpdatedFunc updatedFunc;
  gpointer userData;

  Stage stage = Stage::kHeader;
  ZoltHeader header{};
  // The header or the tail as it arrives, and how much of it has.
  std::uint8_t part[kZoltTailSize] = {};
  std::size_t partFilled = 0;

  GdkPixbuf* pixbuf = nullptr;
  int targetWidth = 0;
  int targetHeight = 0;
  // Source column sampled by each column of the result.
  std::uint32_t* columns = nullptr;
  // One source row as it arrives; not needed at full size, where the
  // indices go straight to their places.
  std::uint8_t* row = nullptr;
  std::uint32_t rowFilled = 0;
  std::uint32_t sourceRow = 0;
  // The next row of the result and the source row it samples.
  int targetRow = 0;
  std::uint32_t wantedRow = 0;
};

bool Scaled(const Context& c) { return c.targetWidth != c.header.width || c.targetHeight != c.header.height; }

// The source row or column (of source sides) at the centre of result row or
// column i (of target sides).
std::uint32_t Sample(int i, int source, int target) {
  return ZoltSample(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(source), static_cast<std::uint32_t>(target));
}

bool Fail(Context& c, GError** error, GdkPixbufError code, const char* message) {
  c.stage = Stage::kFailed;
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
  return false;
}

void FreePixels(guchar* pixels, gpointer /*data*/) { g_free(pixels); }

// The header is complete: checks it, asks the caller for the size it wants
// and makes the pixbuf.
bool Prepare(Context& c, GError** error) {
  c.header = DecodeZoltHeader(c.part);
  if (!StartsAsZolt(c.part, kZoltHeaderSize)) return Fail(c, error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "Not a ZOLT file");
  if (!ZoltHeaderValid(c.header)) {
    return Fail(c, error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "ZOLT file has an invalid image size");
  }
  int width = c.header.width;
  int height = c.header.height;
  if (c.sizeFunc != nullptr) c.sizeFunc(&width, &height, c.userData);
  // A caller that wants only the size (gdk_pixbuf_get_file_info) asks for 0.
  if (width <= 0 || height <= 0) {
    return Fail(c, error, GDK_PIXBUF_ERROR_FAILED, "ZOLT image not loaded: no size asked for");
  }
  // Never larger than the file: enlarging is the caller's business.
  c.targetWidth = std::min(width, static_cast<int>(c.header.width));
  c.targetHeight = std::min(height, static_cast<int>(c.header.height));
  // Zeroed memory, so that rows not yet placed are black without a pass over
  // them: fresh pages cost nothing until written.
  const gsize stride = (3 * static_cast<gsize>(c.targetWidth) + 3) & ~gsize{3};
  auto* memory = static_cast<guchar*>(g_try_malloc0_n(static_cast<gsize>(c.targetHeight), stride));
  if (memory != nullptr) {
    c.pixbuf = gdk_pixbuf_new_from_data(memory, GDK_COLORSPACE_RGB, FALSE, 8, c.targetWidth, c.targetHeight,
                                        static_cast<int>(stride), FreePixels, nullptr);
  }
  if (c.pixbuf == nullptr) {
    g_free(memory);
    return Fail(c, error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory for the ZOLT image");
  }
  if (Scaled(c)) {
    c.columns = static_cast<std::uint32_t*>(g_try_malloc_n(static_cast<gsize>(c.targetWidth), sizeof *c.columns));
    c.row = static_cast<std::uint8_t*>(g_try_malloc(static_cast<gsize>(c.header.width)));
    if (c.columns == nullptr || c.row == nullptr) {
      return Fail(c, error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory for the ZOLT image");
    }
    for (int x = 0; x < c.targetWidth; ++x) c.columns[x] = Sample(x, c.header.width, c.targetWidth);
    c.wantedRow = Sample(0, c.header.height, c.targetHeight);
  }
  if (c.preparedFunc != nullptr) c.preparedFunc(c.pixbuf, nullptr, c.userData);
  c.stage = Stage::kPixels;
  return true;
}

// Puts the indices of source row c.sourceRow, columns c.rowFilled onward, into
// the result's first bytes of their pixels.
void PlaceFullSize(Context& c, const std::uint8_t* indices, std::uint32_t count) {
  guchar* out = gdk_pixbuf_get_pixels(c.pixbuf) +
                static_cast<std::size_t>(c.sourceRow) * static_cast<std::size_t>(gdk_pixbuf_get_rowstride(c.pixbuf)) +
                3 * static_cast<std::size_t>(c.rowFilled);
  for (std::uint32_t i = 0; i < count; ++i) out[3 * static_cast<std::size_t>(i)] = indices[i];
}

// The source row in c.row is complete: samples it into every result row
// centred on it.
void PlaceScaled(Context& c) {
  const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(c.pixbuf));
  while (c.targetRow < c.targetHeight && c.wantedRow == c.sourceRow) {
    guchar* out = gdk_pixbuf_get_pixels(c.pixbuf) + static_cast<std::size_t>(c.targetRow) * stride;
    for (int x = 0; x < c.targetWidth; ++x) out[3 * static_cast<std::size_t>(x)] = c.row[c.columns[x]];
    ++c.targetRow;
    if (c.targetRow < c.targetHeight) c.wantedRow = Sample(c.targetRow, c.header.height, c.targetHeight);
  }
}

// Takes pixel bytes from the front of data; returns how many it took.
std::size_t TakePixels(Context& c, const std::uint8_t* data, std::size_t size) {
  const auto width = static_cast<std::uint32_t>(c.header.width);
  const auto height = static_cast<std::uint32_t>(c.header.height);
  std::size_t taken = 0;
  while (taken < size && c.sourceRow < height) {
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(width - c.rowFilled, size - taken));
    if (!Scaled(c)) {
      PlaceFullSize(c, data + taken, count);
    } else if (c.sourceRow == c.wantedRow && c.targetRow < c.targetHeight) {
      std::memcpy(c.row + c.rowFilled, data + taken, count);
    }
    taken += count;
    c.rowFilled += count;
    if (c.rowFilled == width) {
      if (Scaled(c) && c.sourceRow == c.wantedRow) PlaceScaled(c);
      c.rowFilled = 0;
      ++c.sourceRow;
    }
  }
  if (c.sourceRow == height) c.stage = Stage::kTail;
  return taken;
}

// The palette has arrived: each index becomes its colour, in 8 bits.
void Colour(Context& c) {
  ZoltPalette palette{};
  DecodeZoltTail(c.part, palette);
  guchar rgb[kZoltPaletteSize];
  for (std::size_t i = 0; i < kZoltPaletteSize; ++i) rgb[i] = ZoltTo8BitComponent(palette.rgb[i]);
  const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(c.pixbuf));
  for (int y = 0; y < c.targetHeight; ++y) {
    guchar* out = gdk_pixbuf_get_pixels(c.pixbuf) + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < c.targetWidth; ++x, out += 3) std::memcpy(out, rgb + 3 * static_cast<std::size_t>(out[0]), 3);
  }
  c.stage = Stage::kDone;
  if (c.updatedFunc != nullptr) c.updatedFunc(c.pixbuf, 0, 0, c.targetWidth, c.targetHeight, c.userData);
}

// Fills c.part up to want bytes from the front of data; returns how many it
// took.
std::size_t TakePart(Context& c, const std::uint8_t* data, std::size_t size, std::size_t want) {
  const std::size_t count = std::min(want - c.partFilled, size);
  std::memcpy(c.part + c.partFilled, data, count);
  c.partFilled += count;
  return count;
}

gboolean Increment(gpointer context, const guchar* data, guint size, GError** error) {
  auto& c = *static_cast<Context*>(context);
  std::size_t at = 0;
  while (at < size) {
    switch (c.stage) {
      case Stage::kHeader:
        at += TakePart(c, data + at, size - at, kZoltHeaderSize);
        if (c.partFilled == kZoltHeaderSize) {
          c.partFilled = 0;
          if (!Prepare(c, error)) return FALSE;
        }
        break;
      case Stage::kPixels:
        at += TakePixels(c, data + at, size - at);
        break;
      case Stage::kTail:
        at += TakePart(c, data + at, size - at, kZoltTailSize);
        if (c.partFilled == kZoltTailSize) Colour(c);
        break;
      case Stage::kDone:
        return TRUE;  // anything after the palette is not the image's
      case Stage::kFailed:
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "ZOLT loading already failed");
        return FALSE;
    }
  }
  return TRUE;
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
  auto* c = new (std::nothrow) Context{sizeFunc, preparedFunc, updatedFunc, userData};
  if (c == nullptr) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load ZOLT");
    return nullptr;
  }
  return c;
}

// Ends a load; fails unless the whole image arrived. An incomplete image is
// black: the rows that hold indices are cleared.
gboolean StopLoad(gpointer context, GError** error) {
  auto* c = static_cast<Context*>(context);
  const Stage stage = c->stage;
  if (stage != Stage::kDone && c->pixbuf != nullptr) {
    const std::size_t rows = Scaled(*c) ? c->targetRow : std::min<std::uint32_t>(c->sourceRow + 1, c->targetHeight);
    std::memset(gdk_pixbuf_get_pixels(c->pixbuf), 0, rows * gdk_pixbuf_get_rowstride(c->pixbuf));
  }
  if (c->pixbuf != nullptr) g_object_unref(c->pixbuf);
  g_free(c->columns);
  g_free(c->row);
  delete c;
  if (stage == Stage::kDone) return TRUE;
  // A failure was reported when it happened.
  if (stage != Stage::kFailed) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "ZOLT file is truncated");
  }
  return FALSE;
}

// A whole file: the same machine, fed from the stream.
void KeepPixbuf(GdkPixbuf* pixbuf, GdkPixbufAnimation* /*animation*/, gpointer result) {
  *static_cast<GdkPixbuf**>(result) = GDK_PIXBUF(g_object_ref(pixbuf));
}

GdkPixbuf* Load(FILE* file, GError** error) {
  GdkPixbuf* result = nullptr;
  gpointer context = BeginLoad(nullptr, KeepPixbuf, nullptr, &result, error);
  if (context == nullptr) return nullptr;
  guchar buffer[65536];
  bool ok = true;
  std::size_t got = 0;
  while (ok && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    ok = Increment(context, buffer, static_cast<guint>(got), error) != FALSE;
  }
  if (ok && std::ferror(file) != 0) {
    ok = false;
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "Can't read the ZOLT file");
  }
  // A failure already reported leaves the stop's own error unset.
  ok = StopLoad(context, ok ? error : nullptr) != FALSE && ok;
  if (!ok && result != nullptr) g_clear_object(&result);
  return result;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = Load;
  module->begin_load = BeginLoad;
  module->stop_load = StopLoad;
  module->load_increment = Increment;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  // gdk-pixbuf's records take non-const strings it never writes.
  static GdkPixbufModulePattern signature[] = {
      {const_cast<char*>("ZOLT"), nullptr, 100},
      {nullptr, nullptr, 0},
  };
  static const gchar* mimeTypes[] = {"image/x-zolt", nullptr};
  static const gchar* extensions[] = {"zolt", nullptr};
  info->name = const_cast<gchar*>("zolt");
  info->signature = signature;
  info->description = const_cast<gchar*>("ZOLT indexed-colour image");
  info->mime_types = const_cast<gchar**>(mimeTypes);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("MIT");
}

}  // extern "C"
