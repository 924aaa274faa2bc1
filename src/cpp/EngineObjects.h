// Entry functions that take JavaScript argument objects: entering a room, chat and control messages,
// the broadcast login, the local token, and the previews and views with their frame streams.
#ifndef KOVA_ENGINE_OBJECTS_H
#define KOVA_ENGINE_OBJECTS_H

#include <node_api.h>

#define KOVA_OBJECT_ENTRIES(X)              \
    X(KOVAEngineEnterRoom)                  \
    X(KOVAEngineSendChatMessage)            \
    X(KOVAEngineInitBroadCast)              \
    X(KOVAEngineSendControlMessage)         \
    X(KOVAEngineSendControlMessageV2)       \
    X(KOVAEngineGeneralToken)               \
    X(KOVAEngineStartLocalPreview)          \
    X(KOVAEngineStopLocalPreview)           \
    X(KOVAEngineStartLocalPreviewTest)      \
    X(KOVAEngineStopLocalPreviewTest)       \
    X(KOVAEngineStartRemoteView)            \
    X(KOVAEngineStopRemoteView)             \
    X(KOVAEngineStopRemoteViewV2)           \
    X(KOVAEngineStartRemoteDesktopView)     \
    X(KOVAEngineStopRemoteDesktopView)      \
    X(KOVAEngineStopRemoteDesktopViewV2)    \
    X(KOVAEngineStartDesktopCapturePreview) \
    X(KOVAEngineStopDesktopCapturePreview)  \
    X(KOVAEngineStartDesktopCaptureShare)   \
    X(KOVAEngineStopDesktopCaptureShare)

#define KOVA_DECLARE_ENTRY(name) napi_value name(napi_env env, napi_callback_info info);
KOVA_OBJECT_ENTRIES(KOVA_DECLARE_ENTRY)
#undef KOVA_DECLARE_ENTRY

#endif  // KOVA_ENGINE_OBJECTS_H
