#include "picture.h"

#include <wincodec.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace dorvik::win {

namespace {

template <typename T>
class Com {
 public:
  Com() = default;
  ~Com() {
    if (p_ != nullptr) p_->Release();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T** operator&() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// The file's path for a message, in the installer's code page (a letter it
// cannot hold shows as "?").
std::string PathText(const std::filesystem::path& file) {
  const std::wstring& w = file.native();
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(1251, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(1251, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

[[noreturn]] void Fail(const char* what, const std::filesystem::path& file, HRESULT hr) {
  char code[32];
  std::snprintf(code, sizeof code, " (HRESULT 0x%08lX)", static_cast<unsigned long>(hr));
  throw std::runtime_error(std::string(what) + PathText(file) + code);
}

}  // namespace

HBITMAP DecodePicture(const std::filesystem::path& file) {
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    throw std::runtime_error("cannot open the picture " + PathText(file));
  }
  Com<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) Fail("cannot decode the picture (no imaging component) ", file, hr);
  Com<IWICBitmapDecoder> decoder;
  hr =
      factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
  if (FAILED(hr)) Fail("cannot decode the picture ", file, hr);
  Com<IWICBitmapFrameDecode> frame;
  hr = decoder->GetFrame(0, &frame);
  if (FAILED(hr)) Fail("cannot decode the picture ", file, hr);
  Com<IWICFormatConverter> converter;
  hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr)) {
    hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
  }
  if (FAILED(hr)) Fail("cannot decode the picture ", file, hr);
  UINT width = 0, height = 0;
  converter->GetSize(&width, &height);
  if (width == 0 || height == 0 || width > 16384 || height > 16384) {
    Fail("cannot decode the picture (size out of range) ", file, E_FAIL);
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) Fail("cannot decode the picture (out of memory) ", file, E_OUTOFMEMORY);
  // The whole image is decoded here: a picture damaged in its middle fails
  // now, not later while it is drawn.
  hr = converter->CopyPixels(nullptr, width * 4, width * height * 4, static_cast<BYTE*>(bits));
  if (FAILED(hr)) {
    DeleteObject(bitmap);
    Fail("cannot decode the picture ", file, hr);
  }
  return bitmap;
}

}  // namespace dorvik::win
