// IWICBitmapSourceTransform, which mingw-w64's wincodec.h leaves out, as
// Windows' own SDK declares it: the interface through which WIC asks a
// decoder for a scaled copy.
#ifndef ZOLT_WIC_SOURCETRANSFORM_H
#define ZOLT_WIC_SOURCETRANSFORM_H

#include <windows.h>
#include <wincodec.h>

namespace zoltwic {

// {3B16811B-6A43-4ec9-B713-3D5A0C13B940}
constexpr IID kIidSourceTransform = {0x3b16811b, 0x6a43, 0x4ec9, {0xb7, 0x13, 0x3d, 0x5a, 0x0c, 0x13, 0xb9, 0x40}};

struct SourceTransform : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height, WICPixelFormatGUID* format,
                                               WICBitmapTransformOptions transform, UINT stride, UINT size,
                                               BYTE* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) = 0;
  virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) = 0;
};

}  // namespace zoltwic

#endif
