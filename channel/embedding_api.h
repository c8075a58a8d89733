// Our declarations of the C interface exported by the Flutter Windows
// embedding (flutter_windows.dll). The layouts and calling conventions here
// must stay binary compatible with the real library: the host links either the
// real engine, the stand-in in standins/flutter_windows, or a test fake, with
// no change to the code that includes this header.
//
// Threads: every call is made on the platform thread (the thread that created
// the engine and runs the window message loop), except the messenger's
// AddRef/Release/Lock/Unlock/IsAvailable/SendResponse, which may be called from
// any thread. Callbacks from the embedding arrive on the platform thread.
#ifndef VELQA_CHANNEL_EMBEDDING_API_H_
#define VELQA_CHANNEL_EMBEDDING_API_H_

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "channel/win32_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles owned by the embedding.
typedef struct VelqaEmbeddingEngine* FlutterDesktopEngineRef;
typedef struct VelqaEmbeddingViewController* FlutterDesktopViewControllerRef;
typedef struct VelqaEmbeddingView* FlutterDesktopViewRef;
typedef struct VelqaEmbeddingPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessenger FlutterDesktopMessenger;
typedef FlutterDesktopMessenger* FlutterDesktopMessengerRef;
// Answers exactly one incoming message; used up by SendResponse.
typedef struct VelqaEmbeddingResponseHandle FlutterDesktopMessageResponseHandle;

// The record from which the engine is built. Every field is 8 bytes apart on
// 64-bit targets; the offsets are fixed by the embedding's binary interface.
typedef struct {
  const wchar_t* assets_path;         // offset 0, NUL-terminated UTF-16
  const wchar_t* icu_data_path;       // offset 8
  const wchar_t* aot_library_path;    // offset 16
  const char* dart_entrypoint;        // offset 24, "" for the default entry
  int32_t dart_entrypoint_argc;       // offset 32, then 4 bytes of padding
  const char** dart_entrypoint_argv;  // offset 40, null when argc is 0
  int32_t first_option;               // offset 48, handed over unchanged
  int32_t second_option;              // offset 52
} FlutterDesktopEngineProperties;

// One incoming message. Only the payload and the response handle are read by
// the host; the first two fields (the record's size and the channel name) are
// there for the embedding's own use.
typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);
typedef void (*FlutterDesktopNextFrameCallback)(void* user_data);

// Engine. Create returns null when the assets or ICU data cannot be found.
FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* engine_properties);
// Ends an engine that no view controller has taken over.
bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name);
void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
// The callback runs once, on the platform thread, after the next frame.
void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine,
                                              FlutterDesktopNextFrameCallback callback,
                                              void* user_data);

// View controller: takes the engine over and starts it; null on failure.
FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine);
// Ends the view and the engine it owns.
void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);
FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller);
void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller);
// True when the embedding handled the message; *result then holds its result.
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// Messenger. A null callback removes the channel's callback.
void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data);
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size);
// True: the reply runs exactly once later. False: it never runs.
bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data);
void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length);
FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
// Keeps the engine from being destroyed until Unlock, which takes what Lock
// returned.
FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);
// False once the engine that owned the messenger is gone.
bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Process-wide helpers.
UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
void FlutterDesktopResyncOutputStreams(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // VELQA_CHANNEL_EMBEDDING_API_H_
