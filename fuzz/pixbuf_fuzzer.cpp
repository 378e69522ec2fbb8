// Arbitrary bytes through the gdk-pixbuf loader's incremental interface, as a
// thumbnailer feeds it: the first byte picks the largest side the caller asks
// for (1 to 256), the second seeds the chunk sizes (1 to 4096 bytes), and the
// rest is the file. An image loaded at its own size must have exactly the
// file's colours.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "memtiff.h"
#include "zoltfile.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {
struct Run {
  int side;
  GdkPixbuf* pixbuf = nullptr;
  bool updated = false;
};

void AskSize(int* width, int* height, gpointer data) {
  const int side = static_cast<Run*>(data)->side;
  if (*width > side || *height > side) {
    // Fits the larger side to side, as gdk-pixbuf-thumbnailer does.
    const double scale = static_cast<double>(side) / (*width > *height ? *width : *height);
    *width = static_cast<int>(*width * scale) > 0 ? static_cast<int>(*width * scale) : 1;
    *height = static_cast<int>(*height * scale) > 0 ? static_cast<int>(*height * scale) : 1;
  }
}

void Prepared(GdkPixbuf* pixbuf, GdkPixbufAnimation* /*animation*/, gpointer data) {
  static_cast<Run*>(data)->pixbuf = GDK_PIXBUF(g_object_ref(pixbuf));
}

void Updated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer data) {
  if (x != 0 || y != 0 || width != gdk_pixbuf_get_width(pixbuf) || height != gdk_pixbuf_get_height(pixbuf)) {
    Fail("the update is not the whole image");
  }
  static_cast<Run*>(data)->updated = true;
}

// The colours the file gives, pixel by pixel, at its own size.
void CheckColours(const std::uint8_t* file, GdkPixbuf* pixbuf) {
  const ZoltHeader header = DecodeZoltHeader(file);
  const std::uint8_t* indices = file + kZoltHeaderSize;
  const std::uint8_t* palette = indices + ZoltPixelCount(header) + kZoltTagSize;
  const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < header.height; ++y) {
    for (int x = 0; x < header.width; ++x) {
      const guchar* got = pixels + static_cast<std::ptrdiff_t>(y) * gdk_pixbuf_get_rowstride(pixbuf) + std::ptrdiff_t{3} * x;
      const std::uint8_t index = indices[y * header.width + x];
      for (int k = 0; k < 3; ++k) {
        if (got[k] != ZoltTo8BitComponent(palette[3 * index + k])) Fail("a pixel has the wrong colour");
      }
    }
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static GdkPixbufModule module = [] {
    GdkPixbufModule m{};
    fill_vtable(&m);
    return m;
  }();
  Run run{1 + data[0]};
  std::uint32_t state = data[1];
  data += 2;
  size -= 2;

  GError* error = nullptr;
  gpointer context = module.begin_load(AskSize, Prepared, Updated, &run, &error);
  if (context == nullptr) Fail("begin_load failed");
  bool ok = true;
  for (std::size_t at = 0; ok && at < size;) {
    state = state * 1103515245U + 12345U;
    const std::size_t chunk = std::min<std::size_t>(size - at, 1 + (state >> 16U) % 4096);
    ok = module.load_increment(context, data + at, static_cast<guint>(chunk), &error) != FALSE;
    if (ok != (error == nullptr)) Fail("load_increment's result and error disagree");
    at += chunk;
  }
  g_clear_error(&error);
  const bool loaded = module.stop_load(context, &error) != FALSE && ok;
  if (loaded != (error == nullptr) && ok) Fail("stop_load's result and error disagree");
  g_clear_error(&error);

  if (loaded) {
    const ZoltHeader header = DecodeZoltHeader(data);
    if (run.pixbuf == nullptr || !run.updated || size < ZoltFileSize(header)) Fail("loaded without the whole image");
    if (gdk_pixbuf_get_width(run.pixbuf) == header.width && gdk_pixbuf_get_height(run.pixbuf) == header.height) {
      CheckColours(data, run.pixbuf);
    }
  }
  if (run.pixbuf != nullptr) g_object_unref(run.pixbuf);
  return 0;
}
