// PNG decoding through the Windows Imaging Component: the same 8-bit RGB or
// RGBA rows as the libpng path. Whether the rows carry alpha follows the
// file itself (colour types 4 and 6, or a tRNS chunk), as libpng decides it,
// and so does the refusal of damaged files.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstring>

#include "gfx/image_decode.h"

namespace {

template <typename T>
void Release(T** p) {
  if (*p) (*p)->Release();
  *p = nullptr;
}

} // namespace

extern "C" int32_t DecodeImageRows(const uint8_t* data, uint64_t size, DecodedImage* image) {
  memset(image, 0, sizeof(*image));
  image->reader.data = data;
  image->reader.size = size;
  uint32_t channels = CheckPngChunks(data, size);
  if (channels == 0 || size > 0xFFFFFFFFu) return 1;

  HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  int32_t result = 1;
  UINT width = 0, height = 0;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), DWORD(size));
  if (SUCCEEDED(hr))
    hr = factory->CreateDecoderFromStream(stream, &GUID_ContainerFormatPng, WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
  if (SUCCEEDED(hr) && ImageSizeAllowed(width, height) != 0) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr))
    hr = converter->Initialize(frame, channels == 4 ? GUID_WICPixelFormat32bppRGBA : GUID_WICPixelFormat24bppRGB,
                               WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
  if (SUCCEEDED(hr)) {
    uint64_t rowBytes = uint64_t(width) * channels;
    uint64_t bytes = rowBytes * height;
    image->pixels = static_cast<uint8_t*>(ImageAlloc(bytes));
    if (image->pixels &&
        SUCCEEDED(converter->CopyPixels(nullptr, UINT(rowBytes), UINT(bytes), image->pixels))) {
      image->width = width;
      image->height = height;
      image->channels = channels;
      image->bitDepth = 8;
      image->rowBytes = rowBytes;
      result = 0;
    } else {
      ImageFree(image->pixels);
      image->pixels = nullptr;
    }
  }
  Release(&converter);
  Release(&frame);
  Release(&decoder);
  Release(&stream);
  Release(&factory);
  if (init == S_OK || init == S_FALSE) CoUninitialize();
  return result;
}
