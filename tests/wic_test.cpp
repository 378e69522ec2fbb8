// The ZOLT decoder for the Windows Imaging Component, found as any WIC program
// finds a decoder: registered, then chosen by the file's signature through
// IWICImagingFactory::CreateDecoderFromFilename, never by name.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincodec.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sourcetransform.h"
#include "tiffgen.h"
#include "zoltfile.h"

namespace {

// The decoder's container format, as it registers it.
constexpr GUID kContainerFormat = {0x843be3fe, 0xd62b, 0x47d4, {0xa5, 0xa6, 0x7e, 0xeb, 0x3d, 0x92, 0xb8, 0x7b}};

// Owns a COM interface pointer.
template <typename T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }  // NOLINT(google-runtime-operator): as COM's out parameters take it
  T* operator->() const { return p; }
};

std::wstring Wide(const std::string& path) {
  std::wstring wide(path.begin(), path.end());  // the tests' paths are ASCII
  for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
  return wide;
}

// A ZOLT file of width x height with its pixels and palette as given.
void WriteZolt(const std::string& path, int width, int height, const std::vector<std::uint8_t>& pixels,
               const ZoltPalette& palette) {
  std::uint8_t head[kZoltHeaderSize];
  EncodeZoltHeader({{'Z', 'O', 'L', 'T'}, static_cast<std::int16_t>(width), static_cast<std::int16_t>(height)}, head);
  std::uint8_t tail[kZoltTailSize];
  EncodeZoltTail(palette, tail);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(head), sizeof head);
  out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  out.write(reinterpret_cast<const char*>(tail), sizeof tail);
}

ZoltPalette TestPalette() {
  ZoltPalette palette{};
  for (std::size_t i = 0; i < kZoltPaletteSize; ++i) palette.rgb[i] = static_cast<std::uint8_t>((i * 37 + i / 3) % 64);
  return palette;
}

WICColor Colour(const ZoltPalette& palette, unsigned index) {
  return 0xFF000000U | (WICColor{ZoltTo8BitComponent(palette.rgb[3 * index])} << 16U) |
         (WICColor{ZoltTo8BitComponent(palette.rgb[3 * index + 1])} << 8U) | ZoltTo8BitComponent(palette.rgb[3 * index + 2]);
}

class Wic : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    dll_ = LoadLibraryW(Wide(ZOLTWIC_PATH).c_str());
    ASSERT_NE(dll_, nullptr) << "cannot load " << ZOLTWIC_PATH;
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  }
  static void TearDownTestSuite() {
    Call("DllUnregisterServer");
    CoUninitialize();
  }
  static HRESULT Call(const char* name) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): GetProcAddress gives every function so
    const auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll_, name)));
    return function != nullptr ? function() : E_NOTIMPL;
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory, reinterpret_cast<void**>(&factory_))));
  }
  // The decoder WIC picks for the file at path.
  HRESULT Open(const std::string& path, IWICBitmapDecoder** decoder) {
    return factory_->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                               WICDecodeMetadataCacheOnDemand, decoder);
  }

  static HMODULE dll_;
  Com<IWICImagingFactory> factory_;
};
HMODULE Wic::dll_ = nullptr;

// Every index and palette entry, of the whole image and of rectangles, and
// the colours WIC's own converter makes of them.
TEST_F(Wic, ExactIndicesPaletteAndColours) {
  const int width = 37;
  const int height = 23;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 37);
  const ZoltPalette palette = TestPalette();
  const std::string path = TempDir() + "/a.zolt";
  WriteZolt(path, width, height, pixels, palette);

  Com<IWICBitmapDecoder> decoder;
  ASSERT_EQ(Open(path, &decoder), S_OK);
  GUID format{};
  ASSERT_EQ(decoder->GetContainerFormat(&format), S_OK);
  EXPECT_TRUE(format == kContainerFormat);
  UINT frames = 0;
  ASSERT_EQ(decoder->GetFrameCount(&frames), S_OK);
  EXPECT_EQ(frames, 1U);
  Com<IWICBitmapFrameDecode> frame;
  ASSERT_EQ(decoder->GetFrame(0, &frame), S_OK);
  UINT w = 0;
  UINT h = 0;
  ASSERT_EQ(frame->GetSize(&w, &h), S_OK);
  EXPECT_EQ(w, 37U);
  EXPECT_EQ(h, 23U);
  WICPixelFormatGUID pixelFormat{};
  ASSERT_EQ(frame->GetPixelFormat(&pixelFormat), S_OK);
  EXPECT_TRUE(pixelFormat == GUID_WICPixelFormat8bppIndexed);

  struct Rect { INT x, y, w, h; UINT stride; };
  for (const Rect r : {Rect{0, 0, width, height, 37}, Rect{3, 5, 10, 7, 16}, Rect{36, 22, 1, 1, 1}}) {
    const WICRect rect = {r.x, r.y, r.w, r.h};
    std::vector<BYTE> got(static_cast<std::size_t>(r.stride) * static_cast<std::size_t>(r.h));
    ASSERT_EQ(frame->CopyPixels(&rect, r.stride, static_cast<UINT>(got.size()), got.data()), S_OK) << r.x << "," << r.y;
    for (INT y = 0; y < r.h; ++y) {
      for (INT x = 0; x < r.w; ++x) {
        ASSERT_EQ(got[static_cast<std::size_t>(y) * r.stride + static_cast<std::size_t>(x)],
                  pixels[static_cast<std::size_t>(r.y + y) * width + static_cast<std::size_t>(r.x + x)]);
      }
    }
  }
  const WICRect outside = {30, 0, 10, 1};
  std::vector<BYTE> small(16);
  EXPECT_FALSE(SUCCEEDED(frame->CopyPixels(&outside, 16, 16, small.data())));

  Com<IWICPalette> wicPalette;
  ASSERT_EQ(factory_->CreatePalette(&wicPalette), S_OK);
  ASSERT_EQ(frame->CopyPalette(wicPalette.p), S_OK);
  WICColor colours[256] = {};
  UINT count = 0;
  ASSERT_EQ(wicPalette->GetColors(256, colours, &count), S_OK);
  ASSERT_EQ(count, 256U);
  for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(colours[i], Colour(palette, i)) << i;

  Com<IWICBitmapSource> bgra;
  ASSERT_EQ(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.p, &bgra), S_OK);
  std::vector<std::uint32_t> converted(pixels.size());
  ASSERT_EQ(bgra->CopyPixels(nullptr, width * 4, static_cast<UINT>(converted.size() * 4),
                             reinterpret_cast<BYTE*>(converted.data())),
            S_OK);
  for (std::size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(converted[i], Colour(palette, pixels[i])) << i;
}

// A thumbnail of a large file is a copy made by sampling, as the gdk-pixbuf
// loader makes it, with one row of the file in memory at a time.
TEST_F(Wic, ScaledCopyOfALargeFile) {
  const int side = 8192;
  const std::string path = TempDir() + "/large.zolt";
  {
    std::vector<std::uint8_t> row(side);
    std::uint8_t head[kZoltHeaderSize];
    EncodeZoltHeader({{'Z', 'O', 'L', 'T'}, side, side}, head);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(head), sizeof head);
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(x * 3 + y * 5);
      out.write(reinterpret_cast<const char*>(row.data()), side);
    }
    std::uint8_t tail[kZoltTailSize];
    EncodeZoltTail(TestPalette(), tail);
    out.write(reinterpret_cast<const char*>(tail), sizeof tail);
  }
  PROCESS_MEMORY_COUNTERS before{};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  {
  Com<IWICBitmapDecoder> decoder;
  ASSERT_EQ(Open(path, &decoder), S_OK);
  Com<IWICBitmapFrameDecode> frame;
  ASSERT_EQ(decoder->GetFrame(0, &frame), S_OK);
  Com<zoltwic::SourceTransform> transform;
  ASSERT_EQ(frame->QueryInterface(zoltwic::kIidSourceTransform, reinterpret_cast<void**>(&transform)), S_OK);
  UINT w = 256;
  UINT h = 200;
  ASSERT_EQ(transform->GetClosestSize(&w, &h), S_OK);
  EXPECT_EQ(w, 256U);
  EXPECT_EQ(h, 200U);
  BOOL rotates = TRUE;
  ASSERT_EQ(transform->DoesSupportTransform(WICBitmapTransformRotate90, &rotates), S_OK);
  EXPECT_FALSE(rotates);
  WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
  std::vector<BYTE> thumb(256 * 200);
  ASSERT_EQ(transform->CopyPixels(nullptr, w, h, &format, WICBitmapTransformRotate0, w, static_cast<UINT>(thumb.size()),
                                  thumb.data()),
            S_OK);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t sx = ZoltSample(x, side, w);
      const std::uint32_t sy = ZoltSample(y, side, h);
      ASSERT_EQ(thumb[y * w + x], static_cast<std::uint8_t>(sx * 3 + sy * 5)) << x << "," << y;
    }
  }
  }  // the file is closed with the decoder
  PROCESS_MEMORY_COUNTERS after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  std::filesystem::remove(path);
  if (after.PeakWorkingSetSize == 0) GTEST_SKIP() << "this system reports no working set";
  // The file is 64 MiB: far less of it was ever in memory.
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, SIZE_T{16} << 20U);
}

// Damaged, truncated and mutated files (the loader's fuzz corpus) fail with
// an error code, or decode whole; none crashes.
TEST_F(Wic, DamagedFilesFailCleanly) {
  const std::string dir = TempDir();
  std::vector<std::uint8_t> pixels(15 * 6, 9);
  WriteZolt(dir + "/whole.zolt", 15, 6, pixels, TestPalette());
  const std::vector<std::uint8_t> whole = ReadFileBytes(dir + "/whole.zolt");
  std::vector<std::string> files;
  for (std::size_t length = 0; length < whole.size(); length += 7) {
    files.push_back(dir + "/cut-" + std::to_string(length) + ".zolt");
    WriteFileBytes(files.back(), {whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)});
  }
  for (const auto& entry : std::filesystem::directory_iterator(TEST_DATA_DIR "/../../fuzz/corpus/pixbuf")) {
    files.push_back(entry.path().string());
  }
  for (const std::string& file : files) {
    Com<IWICBitmapDecoder> decoder;
    const HRESULT hr = Open(file, &decoder);
    if (file.find("/cut-") != std::string::npos) {
      EXPECT_FALSE(SUCCEEDED(hr)) << file;
    }
    if (!SUCCEEDED(hr)) continue;
    // Opened, it holds the whole image: every pixel decodes.
    Com<IWICBitmapFrameDecode> frame;
    UINT w = 0;
    UINT h = 0;
    ASSERT_EQ(decoder->GetFrame(0, &frame), S_OK) << file;
    ASSERT_EQ(frame->GetSize(&w, &h), S_OK) << file;
    std::vector<BYTE> all(static_cast<std::size_t>(w) * h);
    EXPECT_EQ(frame->CopyPixels(nullptr, w, static_cast<UINT>(all.size()), all.data()), S_OK) << file;
  }
  EXPECT_GT(files.size(), 20U);
}

// After unregistering no WIC program finds the decoder, and no key is left;
// registered for the current user alone, as the install script does it
// without an administrator, the keys are the current user's, and go again.
// (That WIC finds a decoder registered so, through the merged
// HKEY_CLASSES_ROOT, only Windows shows: Wine's WIC reads the machine's.)
TEST_F(Wic, GoneAfterUnregisteringAndPerUser) {
  const std::string path = TempDir() + "/a.zolt";
  WriteZolt(path, 2, 2, {1, 2, 3, 4}, TestPalette());
  {
    Com<IWICBitmapDecoder> decoder;
    ASSERT_EQ(Open(path, &decoder), S_OK);
  }
  ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
  {
    Com<IWICBitmapDecoder> decoder;
    EXPECT_FALSE(SUCCEEDED(Open(path, &decoder)));
  }
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.zolt", 0, KEY_READ, &key), ERROR_SUCCESS)
      << "a key is left";
  if (key != nullptr) RegCloseKey(key);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): GetProcAddress gives every function so
  const auto install = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>(
      reinterpret_cast<void*>(GetProcAddress(dll_, "DllInstall")));
  ASSERT_NE(install, nullptr);
  ASSERT_EQ(install(TRUE, L"user"), S_OK);
  const std::wstring instance = L"Software\\Classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\"
                                L"{79EF3393-A271-4609-B0D5-B73954DF7CE5}";
  for (const std::wstring& name : {std::wstring(L"Software\\Classes\\.zolt\\ShellEx"), instance}) {
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
  }
  ASSERT_EQ(install(FALSE, L"user"), S_OK);
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, instance.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\.zolt", 0, KEY_READ, &key), ERROR_SUCCESS);
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
}

}  // namespace
