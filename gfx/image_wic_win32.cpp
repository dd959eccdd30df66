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

uint32_t ReadBigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint32_t ChunkCrc(const uint32_t* table, const uint8_t* p, uint64_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint64_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

int32_t IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Walks every chunk up to IEND as libpng would: the chunks must be complete,
// properly named and, when critical, known and intact (WIC alone stops at the
// image data). Returns 3 or 4 channels by the header's colour type and a tRNS
// chunk, or 0 when the file is to be refused.
uint32_t CheckChunks(const uint8_t* data, uint64_t size) {
  uint32_t table[256];
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    table[n] = c;
  }
  uint64_t position = 8;
  uint32_t channels = 0;
  while (position + 12 <= size) {
    uint64_t length = ReadBigEndian32(data + position);
    const uint8_t* type = data + position + 4;
    if (length > 0x7FFFFFFFu || length > size - position - 12) return 0;
    if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3])) return 0;
    int32_t critical = (type[0] & 0x20) == 0;
    if (critical && ChunkCrc(table, type, length + 4) != ReadBigEndian32(type + 4 + length)) return 0;
    if (position == 8 && (memcmp(type, "IHDR", 4) != 0 || length < 13)) return 0;
    if (memcmp(type, "IHDR", 4) == 0) {
      uint8_t colourType = type[4 + 9];
      channels = (colourType == 4 || colourType == 6) ? 4 : 3;
    } else if (memcmp(type, "tRNS", 4) == 0) {
      channels = 4;
    } else if (memcmp(type, "IEND", 4) == 0) {
      return channels;
    } else if (critical && memcmp(type, "PLTE", 4) != 0 && memcmp(type, "IDAT", 4) != 0) {
      return 0;
    }
    position += 12 + length;
  }
  return 0;
}

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
  uint32_t channels = CheckChunks(data, size);
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
