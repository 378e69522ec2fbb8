// The ZOLT decoder for the Windows Imaging Component: Explorer's thumbnails
// (through Windows' own WIC thumbnail provider), Windows Photo Viewer and
// every program that reads images through WIC open ZOLT files with it. It
// only reads: one frame of 8-bit indices (GUID_WICPixelFormat8bppIndexed)
// with its palette widened to 8 bits, as the gdk-pixbuf loader shows it, and
// copies scaled by sampling, as the loader makes them, so that a thumbnail of
// the largest file needs one row of it in memory.
//
// Registration (DllRegisterServer, or DllInstall with "user" for the current
// user alone, as regsvr32 /n /i:user does) writes the keys of one table.
#include <windows.h>
#include <wincodec.h>
// After windows.h, which they need.
#include <olectl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "sourcetransform.h"
#include "zoltfile.h"

namespace {

// {79EF3393-A271-4609-B0D5-B73954DF7CE5}
constexpr CLSID kDecoderClsid = {0x79ef3393, 0xa271, 0x4609, {0xb0, 0xd5, 0xb7, 0x39, 0x54, 0xdf, 0x7c, 0xe5}};
// {843BE3FE-D62B-47D4-A5A6-7EEB3D92B87B}
constexpr GUID kContainerFormat = {0x843be3fe, 0xd62b, 0x47d4, {0xa5, 0xa6, 0x7e, 0xeb, 0x3d, 0x92, 0xb8, 0x7b}};
// {F00D18E7-A955-4DF0-9F99-6174CA49501D}
constexpr GUID kVendor = {0xf00d18e7, 0xa955, 0x4df0, {0x9f, 0x99, 0x61, 0x74, 0xca, 0x49, 0x50, 0x1d}};

std::atomic<long> objects{0};  // decoders, frames and factories alive
std::atomic<long> locks{0};
HMODULE module = nullptr;

// Reads size bytes at offset of stream, all of them.
HRESULT ReadAt(IStream* stream, std::uint64_t offset, void* buffer, ULONG size) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  HRESULT hr = stream->Seek(at, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (SUCCEEDED(hr)) hr = stream->Read(buffer, size, &read);
  if (SUCCEEDED(hr) && read != size) hr = WINCODEC_ERR_BADIMAGE;
  return hr;
}

// The ZOLT file a stream holds: its header and palette, checked as the
// format code checks them, and the whole file there.
HRESULT ReadFile(IStream* stream, ZoltHeader& header, ZoltPalette& palette) {
  std::uint8_t head[kZoltHeaderSize];
  HRESULT hr = ReadAt(stream, 0, head, sizeof head);
  if (FAILED(hr)) return hr;
  if (!StartsAsZolt(head, sizeof head)) return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
  header = DecodeZoltHeader(head);
  if (!ZoltHeaderValid(header)) return WINCODEC_ERR_BADHEADER;
  std::uint8_t tail[kZoltTailSize];
  hr = ReadAt(stream, kZoltHeaderSize + ZoltPixelCount(header), tail, sizeof tail);
  if (FAILED(hr)) return hr;
  DecodeZoltTail(tail, palette);
  return S_OK;
}

template <typename T>
HRESULT Give(T* object, REFIID iid, void** out) {
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

// What a ZOLT file has none of, for the decoder and its frame alike:
// metadata, colour contexts, a thumbnail of its own.
HRESULT NoMetadata(IWICMetadataQueryReader** reader) {
  if (reader != nullptr) *reader = nullptr;
  return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}
HRESULT NoColorContexts(UINT* actual) {
  if (actual == nullptr) return E_INVALIDARG;
  *actual = 0;
  return S_OK;
}
HRESULT NoThumbnail(IWICBitmapSource** thumbnail) {
  if (thumbnail != nullptr) *thumbnail = nullptr;
  return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

// IUnknown for an object whose interface is I (identified by *kIid):
// reference counting, and the count of objects alive that DllCanUnloadNow
// asks for.
template <typename I, const IID* kIid>
class Object : public I {
 public:
  Object() { ++objects; }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() { --objects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != *kIid) return E_NOINTERFACE;
    *out = static_cast<I*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  std::atomic<long> refs_{1};
};

class Decoder;

// The one frame, which is the whole image.
class Frame final : public Object<IWICBitmapFrameDecode, &IID_IWICBitmapFrameDecode>, public zoltwic::SourceTransform {
 public:
  using Base = Object<IWICBitmapFrameDecode, &IID_IWICBitmapFrameDecode>;
  explicit Frame(Decoder* decoder);
  ~Frame() override;

  // Both interfaces' IUnknown, and the source it is too.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out != nullptr && iid == zoltwic::kIidSourceTransform) {
      *out = static_cast<zoltwic::SourceTransform*>(this);
      AddRef();
      return S_OK;
    }
    return Base::QueryInterface(iid == IID_IWICBitmapSource ? IID_IWICBitmapFrameDecode : iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Base::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Base::Release(); }

  // IWICBitmapSource
  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override;
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = GUID_WICPixelFormat8bppIndexed;
    return S_OK;
  }
  // A ZOLT file has no resolution: Windows' own default.
  HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override {
    if (x == nullptr || y == nullptr) return E_INVALIDARG;
    *x = *y = 96.0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override;
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
    UINT width = 0;
    UINT height = 0;
    GetSize(&width, &height);
    return CopyScaled(rect, width, height, stride, size, buffer);
  }

  // IWICBitmapFrameDecode
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    return NoMetadata(reader);
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT /*count*/, IWICColorContext** /*contexts*/, UINT* actual) override {
    return NoColorContexts(actual);
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override { return NoThumbnail(thumbnail); }

  // IWICBitmapSourceTransform: any size up to the image's own, 8-bit
  // indices, no rotation.
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height, WICPixelFormatGUID* format,
                                       WICBitmapTransformOptions transform, UINT stride, UINT size,
                                       BYTE* buffer) override {
    if (format != nullptr && *format != GUID_WICPixelFormat8bppIndexed) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (transform != WICBitmapTransformRotate0) return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    return CopyScaled(rect, width, height, stride, size, buffer);
  }
  HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) override;
  HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) override {
    return GetPixelFormat(format);
  }
  HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) override {
    if (supported == nullptr) return E_INVALIDARG;
    *supported = transform == WICBitmapTransformRotate0 ? TRUE : FALSE;
    return S_OK;
  }

 private:
  // The pixels of rect (all when null) of the image scaled to width x
  // height, a row of the source at a time.
  HRESULT CopyScaled(const WICRect* rect, UINT width, UINT height, UINT stride, UINT size, BYTE* buffer);

  Decoder* decoder_;
};

class Decoder final : public Object<IWICBitmapDecoder, &IID_IWICBitmapDecoder> {
 public:
  ~Decoder() override {
    if (stream_ != nullptr) stream_->Release();
  }

  HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override {
    if (stream == nullptr || capability == nullptr) return E_INVALIDARG;
    // Where the stream stood is where it is left.
    LARGE_INTEGER none{};
    ULARGE_INTEGER at{};
    HRESULT hr = stream->Seek(none, STREAM_SEEK_CUR, &at);
    if (FAILED(hr)) return hr;
    ZoltHeader header{};
    ZoltPalette palette{};
    *capability = SUCCEEDED(ReadFile(stream, header, palette))
                      ? WICBitmapDecoderCapabilityCanDecodeAllImages | WICBitmapDecoderCapabilityCanDecodeSomeImages
                      : 0;
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<LONGLONG>(at.QuadPart);
    hr = stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions /*options*/) override {
    if (stream == nullptr) return E_INVALIDARG;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stream_ != nullptr) return WINCODEC_ERR_WRONGSTATE;
    const HRESULT hr = ReadFile(stream, header_, palette_);
    if (FAILED(hr)) return hr;
    stream->AddRef();
    stream_ = stream;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = kContainerFormat;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    IWICImagingFactory* factory = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    IWICComponentInfo* component = nullptr;
    if (SUCCEEDED(hr)) hr = factory->CreateComponentInfo(kDecoderClsid, &component);
    if (SUCCEEDED(hr)) hr = component->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void**>(info));
    if (component != nullptr) component->Release();
    if (factory != nullptr) factory->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* /*palette*/) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    return NoMetadata(reader);
  }
  HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource** preview) override {
    if (preview != nullptr) *preview = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT /*count*/, IWICColorContext** /*contexts*/, UINT* actual) override {
    return NoColorContexts(actual);
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override { return NoThumbnail(thumbnail); }
  HRESULT STDMETHODCALLTYPE GetFrameCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
    if (frame == nullptr) return E_INVALIDARG;
    *frame = nullptr;
    if (stream_ == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
    return Give(new (std::nothrow) Frame(this), IID_IWICBitmapFrameDecode, reinterpret_cast<void**>(frame));
  }

  const ZoltHeader& Header() const { return header_; }
  const ZoltPalette& Palette() const { return palette_; }
  // Reads size bytes of pixels from pixel first on; one reader at a time.
  HRESULT ReadPixels(std::uint64_t first, BYTE* buffer, ULONG size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ReadAt(stream_, kZoltHeaderSize + first, buffer, size);
  }

 private:
  std::mutex mutex_;
  IStream* stream_ = nullptr;
  ZoltHeader header_{};
  ZoltPalette palette_{};
};

Frame::Frame(Decoder* decoder) : decoder_(decoder) { decoder_->AddRef(); }

Frame::~Frame() { decoder_->Release(); }

HRESULT Frame::GetSize(UINT* width, UINT* height) {
  if (width == nullptr || height == nullptr) return E_INVALIDARG;
  *width = static_cast<UINT>(decoder_->Header().width);
  *height = static_cast<UINT>(decoder_->Header().height);
  return S_OK;
}

HRESULT Frame::GetClosestSize(UINT* width, UINT* height) {
  if (width == nullptr || height == nullptr) return E_INVALIDARG;
  UINT fullWidth = 0;
  UINT fullHeight = 0;
  GetSize(&fullWidth, &fullHeight);
  // Smaller by sampling; never larger: enlarging is the caller's business.
  *width = std::clamp<UINT>(*width, 1, fullWidth);
  *height = std::clamp<UINT>(*height, 1, fullHeight);
  return S_OK;
}

HRESULT Frame::CopyPalette(IWICPalette* palette) {
  if (palette == nullptr) return E_INVALIDARG;
  WICColor colours[256];
  const ZoltPalette& zolt = decoder_->Palette();
  for (std::size_t i = 0; i < 256; ++i) {
    colours[i] = 0xFF000000U | (WICColor{ZoltTo8BitComponent(zolt.rgb[3 * i])} << 16U) |
                 (WICColor{ZoltTo8BitComponent(zolt.rgb[3 * i + 1])} << 8U) | ZoltTo8BitComponent(zolt.rgb[3 * i + 2]);
  }
  return palette->InitializeCustom(colours, 256);
}

HRESULT Frame::CopyScaled(const WICRect* rect, UINT width, UINT height, UINT stride, UINT size, BYTE* buffer) {
  UINT fullWidth = 0;
  UINT fullHeight = 0;
  GetSize(&fullWidth, &fullHeight);
  if (buffer == nullptr || width == 0 || height == 0 || width > fullWidth || height > fullHeight) return E_INVALIDARG;
  const WICRect all = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  const WICRect& r = rect != nullptr ? *rect : all;
  if (r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 || static_cast<UINT>(r.X) + static_cast<UINT>(r.Width) > width ||
      static_cast<UINT>(r.Y) + static_cast<UINT>(r.Height) > height) {
    return E_INVALIDARG;
  }
  const auto rows = static_cast<UINT>(r.Height);
  const auto columns = static_cast<UINT>(r.Width);
  if (stride < columns || std::uint64_t{stride} * (rows - 1) + columns > size) return WINCODEC_ERR_INSUFFICIENTBUFFER;
  const bool scaled = width != fullWidth || height != fullHeight;
  std::vector<BYTE> row;
  try {
    if (scaled) row.resize(fullWidth);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (UINT j = 0; j < rows; ++j) {
    BYTE* out = buffer + std::size_t{stride} * j;
    const UINT y = static_cast<UINT>(r.Y) + j;
    if (!scaled) {
      const HRESULT hr = decoder_->ReadPixels(std::uint64_t{y} * fullWidth + static_cast<UINT>(r.X), out, columns);
      if (FAILED(hr)) return hr;
      continue;
    }
    const HRESULT hr = decoder_->ReadPixels(std::uint64_t{ZoltSample(y, fullHeight, height)} * fullWidth, row.data(),
                                            fullWidth);
    if (FAILED(hr)) return hr;
    for (UINT i = 0; i < columns; ++i) out[i] = row[ZoltSample(static_cast<UINT>(r.X) + i, fullWidth, width)];
  }
  return S_OK;
}

class Factory final : public Object<IClassFactory, &IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return Give(new (std::nothrow) Decoder, iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    locks += lock != FALSE ? 1 : -1;
    return S_OK;
  }
};

std::wstring Text(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// One key of the registration, under the classes of HKEY_LOCAL_MACHINE or of
// the current user: a value (name null for the default), a string or bytes.
struct Entry {
  std::wstring key;
  const wchar_t* name;
  std::wstring text;
  std::vector<BYTE> bytes = {};
  DWORD number = 0;
  DWORD type = REG_SZ;
};

// The thumbnail handler of Windows' own WIC provider, under a file type's
// ShellEx key.
const wchar_t kThumbnailHandler[] = L"{E357FCCD-A995-4576-B01F-234630154E96}";
const wchar_t kWicThumbnailProvider[] = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";

// The keys that are the table's own, and all below them: the decoder's
// class, its entry in WIC's category of decoders, the file type, the MIME
// type.
std::vector<std::wstring> OwnKeys() {
  return {L"CLSID\\" + Text(kDecoderClsid),
          L"CLSID\\" + Text(CATID_WICBitmapDecoders) + L"\\Instance\\" + Text(kDecoderClsid), L".zolt",
          L"MIME\\Database\\Content Type\\image/x-zolt"};
}

std::vector<Entry> Registration() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  const std::vector<std::wstring> own = OwnKeys();
  const std::wstring& clsid = own[0];
  const std::wstring& instance = own[1];
  const std::vector<BYTE> magic(kZoltMagic, kZoltMagic + 4);
  return {
      {clsid, L"FriendlyName", L"ZOLT Decoder"},
      {clsid, L"Author", L"zolt maintainers"},
      {clsid, L"Vendor", Text(kVendor)},
      {clsid, L"ContainerFormat", Text(kContainerFormat)},
      {clsid, L"Version", L"1.0.0.0"},
      {clsid, L"SpecVersion", L"1.0.0.0"},
      {clsid, L"FileExtensions", L".zolt"},
      {clsid, L"MimeTypes", L"image/x-zolt"},
      {clsid, L"SupportAnimation", L"", {}, 0, REG_DWORD},
      {clsid, L"SupportChromakey", L"", {}, 0, REG_DWORD},
      {clsid, L"SupportLossless", L"", {}, 1, REG_DWORD},
      {clsid, L"SupportMultiframe", L"", {}, 0, REG_DWORD},
      {clsid + L"\\Formats\\" + Text(GUID_WICPixelFormat8bppIndexed), nullptr, L""},
      {clsid + L"\\InprocServer32", nullptr, path},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Both"},
      {clsid + L"\\Patterns\\0", L"Position", L"", {}, 0, REG_DWORD},
      {clsid + L"\\Patterns\\0", L"Length", L"", {}, 4, REG_DWORD},
      {clsid + L"\\Patterns\\0", L"Pattern", L"", magic, 0, REG_BINARY},
      {clsid + L"\\Patterns\\0", L"Mask", L"", {0xFF, 0xFF, 0xFF, 0xFF}, 0, REG_BINARY},
      {instance, L"CLSID", Text(kDecoderClsid)},
      {instance, L"FriendlyName", L"ZOLT Decoder"},
      {L".zolt", L"Content Type", L"image/x-zolt"},
      {L".zolt", L"PerceivedType", L"image"},
      {std::wstring(L".zolt\\ShellEx\\") + kThumbnailHandler, nullptr, kWicThumbnailProvider},
      {own[3], L"Extension", L".zolt"},
  };
}

HKEY Classes(bool user, REGSAM access) {
  HKEY classes = nullptr;
  if (RegCreateKeyExW(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, nullptr, 0, access,
                      nullptr, &classes, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return classes;
}

HRESULT Register(bool user) {
  HKEY classes = Classes(user, KEY_ALL_ACCESS);
  if (classes == nullptr) return SELFREG_E_CLASS;
  LSTATUS status = ERROR_SUCCESS;
  for (const Entry& e : Registration()) {
    HKEY key = nullptr;
    status = RegCreateKeyExW(classes, e.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) break;
    if (e.type == REG_DWORD) {
      status = RegSetValueExW(key, e.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&e.number), sizeof e.number);
    } else if (e.type == REG_BINARY) {
      status = RegSetValueExW(key, e.name, 0, REG_BINARY, e.bytes.data(), static_cast<DWORD>(e.bytes.size()));
    } else {
      status = RegSetValueExW(key, e.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(e.text.c_str()),
                              static_cast<DWORD>((e.text.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) break;
  }
  RegCloseKey(classes);
  // Explorer asks again which program shows .zolt files, and how.
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

// Removes what Register wrote: its values, then each key of the table that
// it leaves empty, and the table's keys' own parents up to the first key
// that is not the table's (CLSID, the category, MIME\Database).
HRESULT Unregister(bool user) {
  HKEY classes = Classes(user, KEY_ALL_ACCESS);
  if (classes == nullptr) return SELFREG_E_CLASS;
  std::vector<Entry> entries = Registration();
  const std::vector<std::wstring> roots = OwnKeys();
  const auto ours = [&roots](const std::wstring& path) {
    return std::any_of(roots.begin(), roots.end(), [&path](const std::wstring& root) {
      return path == root || path.rfind(root + L"\\", 0) == 0;
    });
  };
  const auto empty = [classes](const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 1;
    DWORD values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return subkeys == 0 && values == 0;
  };
  for (const Entry& e : entries) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classes, e.key.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
    RegDeleteValueW(key, e.name);
    RegCloseKey(key);
  }
  // Deepest first, so that a key's own keys are gone when it is reached.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key.size() > b.key.size(); });
  for (const Entry& e : entries) {
    for (std::wstring path = e.key; ours(path) && empty(path) && RegDeleteKeyW(classes, path.c_str()) == ERROR_SUCCESS;) {
      const std::size_t cut = path.rfind(L'\\');
      if (cut == std::wstring::npos) break;
      path.resize(cut);
    }
  }
  RegCloseKey(classes);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return S_OK;
}

}  // namespace

// The DLL's face (zoltwic.def names them, undecorated on 32-bit Windows too).
extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != kDecoderClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return Give(new (std::nothrow) Factory, iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return objects == 0 && locks == 0 ? S_OK : S_FALSE; }

// For all users (administrators): the classes of HKEY_LOCAL_MACHINE.
HRESULT STDAPICALLTYPE DllRegisterServer() { return Register(false); }
HRESULT STDAPICALLTYPE DllUnregisterServer() { return Unregister(false); }

// regsvr32 /n /i:user (and /u): for the current user alone, no
// administrator needed.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR line) {
  const bool user = line != nullptr && lstrcmpiW(line, L"user") == 0;
  return install != FALSE ? Register(user) : Unregister(user);
}

}  // extern "C"
