// The parsers that turn the JavaScript argument objects of the entry functions into the addon's own
// records (MeetingParam, RemoteViewParam, DesktopCapturePreviewParam, ChatMessage) or straight into
// the SDK's records (StartLocalPreviewParam, ControlContent, AuthInfo).
//
// Every parser reads its properties in a fixed order, each in the same three steps (key string,
// property, type), and treats each property one of three ways:
//   optional  a value of another type is skipped and the field keeps its value;
//   required  a value of another type ends the parser quietly;
//   forced    the value is converted without a type test, so another type fails inside Node-API.
// A failed Node-API call raises the call check's Error (unless an exception is pending) and ends the
// parser; the record keeps what was filled so far, and the caller carries on with it. Strings keep at
// most their first 255 bytes. Out napi_values are written only when the property has the expected
// type. The parsers read through the environment of the calling entry function, on its JavaScript
// thread.
#ifndef KOVA_PARSEPARAM_H
#define KOVA_PARSEPARAM_H

#include <node_api.h>

#include <functional>

#include "DataType.h"
#include "kova-api-i.h"

// Backing storage of the six strings of an AuthInfo: valid for as long as this object lives.
struct AuthInfoStrings {
    char text[6][256] = {};
};

class ParseParam {
public:
    using IKOV_API = solvane::kovawin::IKOV_API;
    using FrameCallback = std::function<void(IKOV_API::StreamInfo&)>;

    // Size of each of the two buffers that a ControlContent points at before parsing.
    static constexpr int kControlBufferSize = 256;

    static napi_value ParseEnterRoomParam(napi_env env, const napi_value& object, MeetingParam& out);
    static napi_value ParseStartLocalPreviewParam(napi_env env, const napi_value& object, IKOV_API::StartLocalPreviewParam& out,
                                                  FrameCallback frameCallback, FrameCallback captureCallback,
                                                  napi_value& kovaEngine, napi_value& streamCB);
    static napi_value ParseStartRemotePreviewParam(napi_env env, const napi_value& object, RemoteViewParam& out,
                                                   napi_value& kovaEngine, napi_value& streamCB);

    static napi_value ParseDesktopPreviewParam(napi_env env, const napi_value& object, DesktopCapturePreviewParam& out,
                                               napi_value& kovaEngine, napi_value& streamCB);
    // Allocates *outArray (records zeroed) and sets *outCount. The count is bounded: records that could
    // only stay zero beyond the end of "desktopPreviewArray" are not allocated (see kMinDesktopPreviews).
    static napi_value ParseDesktopPreviewParams(napi_env env, const napi_value& object, IKOV_API::DesktopPreview** outArray,
                                                int* outCount, napi_value& kovaEngine, napi_value& streamCB,
                                                napi_value& finishCallback);
    // Frees what ParseDesktopPreviewParams allocated, except the excluded-window arrays.
    static void ReleaseDesktopPreviewParams(IKOV_API::DesktopPreview* array, int count);

    // Copies into the kControlBufferSize-byte buffers that `out` already points at.
    static napi_value ParseControlContentParam(napi_env env, const napi_value& object, IKOV_API::ControlContent& out);
    // The strings of `out` point into `strings`.
    static napi_value ParseAuthInfoParam(napi_env env, const napi_value& object, IKOV_API::AuthInfo& out, AuthInfoStrings& strings);
    static napi_value ParseChatMessageParam(napi_env env, const napi_value& object, ChatMessage& out);
    // The token inputs, every property forced: a missing one fails inside Node-API.
    static napi_value ParseGeneralTokenParam(napi_env env, const napi_value& object, TokenParam& out);

    // A "desktopPreviewSize" up to this many records is honoured whatever the array holds; above it,
    // the count is cut to the array's length plus one (every record after that one could only stay
    // zero, since reading past the end leaves an exception that ends the walk).
    static constexpr int kMinDesktopPreviews = 64;
    // Most records and excluded windows accepted; more raise a RangeError and nothing is stored.
    static constexpr int kMaxDesktopPreviews = 1 << 16;
    static constexpr uint32_t kMaxExcludedWindows = 1u << 16;
};

#endif  // KOVA_PARSEPARAM_H
