/* Plain records with the byte layout that AVI files and the capture interface
 * share: BITMAPINFOHEADER, WAVEFORMATEX, four-character codes. Usable from C. */
#ifndef TAVREC_PLATFORM_WINTYPES_H
#define TAVREC_PLATFORM_WINTYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* 40 bytes. biHeight > 0 means rows run bottom-up. */
typedef struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t  biWidth;
    int32_t  biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t  biXPelsPerMeter;
    int32_t  biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BitmapInfoHeader;

/* 18 bytes, always PCM here (wFormatTag 1, cbSize 0). */
typedef struct WaveFormatEx {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} WaveFormatEx;

typedef struct RectL {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} RectL;

#pragma pack(pop)

#define TAVREC_FOURCC(a, b, c, d) \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) | ((uint32_t)(uint8_t)(c) << 16) | ((uint32_t)(uint8_t)(d) << 24))

#define TAVREC_BI_RGB 0u
#define TAVREC_AVIIF_KEYFRAME 0x10u

#ifdef __cplusplus
}
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(WaveFormatEx) == 18, "WAVEFORMATEX is 18 bytes");
#endif

#endif
