#include "frame_decoder.h"
#include <windows.h>
#include <shlwapi.h>
#include <wincodec.h>
#include <wincrypt.h>

namespace {

// Released with the thread's apartment at process end.
IWICImagingFactory* Factory() {
  static thread_local IWICImagingFactory* factory = nullptr;
  if (!factory)
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&factory));
  return factory;
}

template <class Interface>
struct Held {
  Interface* object = nullptr;
  ~Held() {
    if (object) object->Release();
  }
};

}  // namespace

bool DecodeFrame(const std::string& base64, std::vector<uint32_t>* pixels, int* width, int* height) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(base64.data(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr, &size,
                            nullptr, nullptr))
    return false;
  std::string bytes(size, '\0');
  if (!CryptStringToBinaryA(base64.data(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(&bytes[0]), &size, nullptr, nullptr))
    return false;

  IWICImagingFactory* factory = Factory();
  if (!factory) return false;
  Held<IStream> stream{SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), size)};
  Held<IWICBitmapDecoder> decoder;
  Held<IWICBitmapFrameDecode> frame;
  Held<IWICFormatConverter> converter;
  UINT frameWidth = 0, frameHeight = 0;
  if (!stream.object ||
      FAILED(factory->CreateDecoderFromStream(stream.object, nullptr, WICDecodeMetadataCacheOnDemand,
                                              &decoder.object)) ||
      FAILED(decoder.object->GetFrame(0, &frame.object)) || FAILED(frame.object->GetSize(&frameWidth, &frameHeight)) ||
      FAILED(factory->CreateFormatConverter(&converter.object)) ||
      FAILED(converter.object->Initialize(frame.object, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                          nullptr, 0.0, WICBitmapPaletteTypeCustom)))
    return false;
  // A frame is at most the screen; anything larger is not one of ours.
  if (frameWidth == 0 || frameHeight == 0 || frameWidth > 16384 || frameHeight > 16384) return false;
  pixels->resize(size_t{frameWidth} * frameHeight);
  if (FAILED(converter.object->CopyPixels(nullptr, frameWidth * 4, frameWidth * frameHeight * 4,
                                          reinterpret_cast<BYTE*>(pixels->data()))))
    return false;
  *width = static_cast<int>(frameWidth);
  *height = static_cast<int>(frameHeight);
  return true;
}
