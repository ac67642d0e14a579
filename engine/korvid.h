/* Korvid: the capture library. Records the screen area of one window, and
 * optionally sound, into an AVI file, on threads of its own.
 *
 * Plain C. A caller clears a CaptureContext, fills a CaptureOptions, sets
 * Options and OnFrame, then calls InitializeScreenCapture, StartRecording, any
 * number of PauseRecording calls, and StopRecording. Errors are kept as one
 * library-wide text (GetMyLastError) and, from the capture threads, posted to
 * NotifyWindow as CaptureErrorMessage (an X ClientMessage of type
 * "TAVREC_MESSAGE" with data.l[0] = 32868, l[1] = l[2] = 0). */
#ifndef KORVID_H
#define KORVID_H

#include <stdbool.h>
#include <stdint.h>

#include "platform/WinTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KORVID_BUILDING)
#define KORVID_API __attribute__((visibility("default")))
#else
#define KORVID_API
#endif

/* An X11 window id; 0 is "no window". */
typedef uint32_t KorvidWindow;
/* Opaque handles owned by the library (events, thread, AVI file). */
typedef void* KorvidHandle;

/* CaptureContext.State */
enum {
    StateIdle = 0,
    StateRecording = 1,
    StateVideoReady = 2,
    StateAudioReady = 3
};

/* Posted to NotifyWindow after an error text was stored (WM_APP + 100). */
#define CaptureErrorMessage 32868

/* The frame handed to OnFrame: whatever is drawn into Pixels is recorded.
 * Rows run top-down, Stride bytes apart; (0, 0) is the top-left pixel. 32 bits
 * per pixel means B, G, R and an unused byte; 16 means RGB 5-5-5. */
typedef struct FrameSurface {
    uint8_t* Pixels;
    int32_t Width;
    int32_t Height;
    int32_t Stride;
    int32_t BitsPerPixel;
} FrameSurface;

/* OnFrame: a method pointer. Code is called on the video thread once for every
 * frame built, as Code(Object, frame, width, height, &refreshFrame); setting
 * *refreshFrame to false makes the next frame reuse this one instead of grabbing
 * the screen. Absent when Code is null. */
typedef void (*OnFrameCode)(void* object, FrameSurface* frame, int32_t width, int32_t height,
                            bool* refreshFrame);
typedef struct OnFrameMethod {
    OnFrameCode Code;
    void* Object;
} OnFrameMethod;

typedef struct CaptureOptions {
    KorvidWindow NotifyWindow;   /* receives CaptureErrorMessage; 0: none */
    KorvidWindow CaptureWindow;  /* recorded window (frame included); the root for the whole screen */
    char FileName[256];          /* AVI file to create, zero-terminated */
    char AudioDeviceName[64];    /* capture device description; no match: the default device */
    uint16_t CodecName[64];      /* compressor description (UTF-16); no match: uncompressed */
    uint32_t VideoEnabled;       /* 0 or 1 */
    uint32_t AudioEnabled;       /* 0 or 1 */
    uint32_t FramesPerSecond;    /* 1 to 1000 */
    WaveFormatEx AudioFormat;    /* PCM, 18 bytes packed */
    /* Filled by the program only; the library does not read them. */
    uint32_t AllowDropFrame;
    /* Read by the library: 1 follows the screen's changes (X DAMAGE). A slot in which
     * nothing in the recorded area changed, the cursor neither moved nor changed and
     * OnFrame keeps no frame becomes an empty position (players repeat the frame
     * before) and OnFrame is not called for it; a partly changed slot grabs only what
     * changed, so what OnFrame drew into a grabbed frame stays in its unchanged parts.
     * Without the DAMAGE extension every slot is built, as with 0. */
    uint32_t UseQuickMode;
    /* Filled by the program only. */
    uint32_t UseFastDraw;
    uint32_t AddCCDImage;
    /* Appended after the fields above, which keep their places. A fixed rectangle of
     * the screen, in root-window coordinates: when RegionWidth and RegionHeight are
     * both above 0 the recording covers exactly that rectangle (CaptureWindow is then
     * not read; the program passes the root), with OnFrame, the cursor and Speedup
     * Mode as for a window. The rectangle must lie wholly on the screen, else the
     * video set-up fails with "Capture region lies outside the screen"; the desktop
     * portal's screen cast records no region ("Capture region needs the X11 screen
     * grab"). A caller that clears the whole record, as the calling order asks, leaves
     * them 0 and records CaptureWindow as before; a caller built against the record
     * without these fields must be rebuilt, since the record grew. */
    int32_t RegionLeft;
    int32_t RegionTop;
    int32_t RegionWidth;
    int32_t RegionHeight;
    /* Read by the library when AudioEnabled is 1: the description of a second capture
     * device, captured at the same time as AudioDeviceName and mixed with it into the
     * one audio stream (the samples summed, clipped at the format's limits). Empty
     * (all zeros, as a cleared record has it): one device only. Unlike the first, a
     * name that matches no device fails the recording rather than record the
     * default device twice. Appended after the region, as the region was appended:
     * callers written before either keep working once they clear the record (and are
     * rebuilt, since the record grew). */
    char AudioDeviceName2[64];
} CaptureOptions;

typedef struct CaptureContext {
    CaptureOptions* Options;
    KorvidHandle RunEvent;       /* "MM2_REC_RUN": set while capturing, reset while paused */
    KorvidHandle StopEvent;      /* "MM2_REC_STOP": asks every thread to finish */
    KorvidHandle ReserveEvent;   /* "MM2_REC_RESERVE": never set; ends the recording if it is */
    KorvidHandle AviFile;        /* the open output file; null while Idle */
    KorvidHandle ControlThread;
    uint32_t ControlThreadId;
    uint32_t State;              /* StateIdle, StateRecording, StateVideoReady, StateAudioReady */
    OnFrameMethod OnFrame;
} CaptureContext;

KORVID_API bool InitializeScreenCapture(CaptureContext* context);
KORVID_API bool StartRecording(CaptureContext* context);
KORVID_API bool PauseRecording(CaptureContext* context);
KORVID_API bool StopRecording(CaptureContext* context);
KORVID_API const char* GetMyLastError(int32_t* capacity);
KORVID_API void SetStreamName(const uint16_t* name);
/* *info receives a block of 40 bytes plus the colour table (BITMAPINFO). */
KORVID_API int32_t GetBitmapInformation(KorvidWindow window, BitmapInfoHeader** info);
KORVID_API void ReleaseBitmapInfo(BitmapInfoHeader* info);

/* The screen source of recordings with video: 0 the X11 grab, 1 the desktop portal's
 * screen cast (chosen on a Wayland session whose X server cannot show the desktop;
 * TAVREC_SCREEN_SOURCE=portal or x11 forces one). reason, when not null, receives one
 * line saying why, cut to capacity bytes with its terminating zero. */
KORVID_API int32_t GetScreenSource(char* reason, int32_t capacity);
/* The kinds of source the desktop portal offers: 1 monitors, 2 windows, 4 virtual
 * screens, or-ed; 0 when there is no portal to ask. */
KORVID_API uint32_t GetScreenCastSourceTypes(void);
/* What the next screen cast through the portal asks for: sourceType 1 a monitor, 2 a
 * window (a monitor where the portal offers no windows), and the restore token an
 * earlier screen cast of that source gave (null or empty: none), which lets the
 * desktop share it again without asking. Once this is called, every screen cast asks
 * for a token to keep. Library-wide, as SetStreamName. */
KORVID_API void SetScreenCastRequest(uint32_t sourceType, const char* restoreToken);
/* The restore token the portal gave the last screen cast started (empty when it gave
 * none), cut to capacity bytes with its terminating zero; returns its full length. */
KORVID_API int32_t GetScreenCastToken(char* token, int32_t capacity);

/* The same functions under their decorated names. */
KORVID_API bool _InitializeScreenCapture(CaptureContext* context);
KORVID_API bool _StartRecording(CaptureContext* context);
KORVID_API bool _PauseRecording(CaptureContext* context);
KORVID_API bool _StopRecording(CaptureContext* context);
KORVID_API const char* _GetMyLastError(int32_t* capacity);
KORVID_API void _SetStreamName(const uint16_t* name);
KORVID_API int32_t _GetBitmapInformation(KorvidWindow window, BitmapInfoHeader** info);
KORVID_API void _ReleaseBitmapInfo(BitmapInfoHeader* info);

#ifdef __cplusplus
}
#endif

#endif
