#include "KOVAEngineListener.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "general.h"

namespace {

// Copies exactly the bytes the SDK states; a null pointer or a negative length gives "".
std::string CopyBytes(const char* text, long long length) {
    if (text == nullptr || length <= 0) return std::string();
    return std::string(text, static_cast<size_t>(length));
}

// Appends SDK arguments to a record in argument order, counting each kind.
struct Args {
    ListenerEventData& e;
    Args& I(int v) {
        if (e.iCount < 2) e.iParam[e.iCount++] = v;
        return *this;
    }
    Args& S(const char* text, int length) {
        if (e.strCount < 4) e.strParam[e.strCount++] = CopyBytes(text, length);
        return *this;
    }
    Args& B(bool v) {
        e.bParam = v;
        e.bCount = 1;
        return *this;
    }
    Args& F(float v) {
        e.fParam = v;
        e.fCount = 1;
        return *this;
    }
};

void FillUsers(ListenerEventData& e, const solvane::kovawin::IKOV_API::User* users, int count) {
    e.payload = ListenerEventData::kUsers;
    if (users == nullptr || count < 1) return;
    e.users.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        ListenerEventData::EnterRoomUser user;
        user.nickName = CopyBytes(users[i].nickName, users[i].nickNameLength);
        user.userId = users[i].userId;
        user.userIdV2 = CopyBytes(users[i].userIdStr, users[i].userIdStrLength);
        e.users.push_back(std::move(user));
    }
    e.dataLen = count;
}

// Largest data-stream message copied. A larger size (a negative length passed as unsigned, or one
// no message the SDK holds can have) describes no bytes that could be read: the message is empty.
constexpr unsigned long kMaxDataMessageBytes = 1ul << 30;

void FillDataMessage(ListenerEventData& e, const char* a, int aLength, const unsigned char* bytes,
                     unsigned long size, bool binary) {
    e.payload = ListenerEventData::kDataMessage;
    Args{e}.S(a, aLength).B(binary);
    if (bytes != nullptr && size > 0 && size <= kMaxDataMessageBytes) {
        try {
            e.bytes.assign(bytes, bytes + size);
        } catch (const std::bad_alloc&) {
            e.bytes.clear();  // no memory for the copy: the event still arrives, without the bytes
        }
    }
    e.dataLen = static_cast<int64_t>(e.bytes.size());
    e.dataCount = 1;
}

void FreeByteVector(napi_env /*env*/, void* /*data*/, void* hint) {
    delete static_cast<std::vector<uint8_t>*>(hint);
}

napi_value MakeUsersArray(napi_env env, ListenerEventData& e, bool stringUserIds) {
    napi_value array = nullptr;
    NAPI_CALL(env, napi_create_array_with_length(env, e.users.size(), &array));
    for (size_t i = 0; i < e.users.size(); ++i) {
        const ListenerEventData::EnterRoomUser& user = e.users[i];
        napi_value object = nullptr, userId = nullptr, nickName = nullptr;
        NAPI_CALL_CONTINUE(env, napi_create_object(env, &object));
        if (stringUserIds) {
            NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, user.userIdV2.data(), user.userIdV2.size(), &userId));
        } else {
            NAPI_CALL_CONTINUE(env, napi_create_int32(env, user.userId, &userId));
        }
        NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "userId", userId));
        NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, user.nickName.data(), user.nickName.size(), &nickName));
        NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "nickName", nickName));
        NAPI_CALL_CONTINUE(env, napi_set_element(env, array, static_cast<uint32_t>(i), object));
    }
    return array;
}

}  // namespace

// ---------------------------------------------------------------- registration

ListenerRegistry::~ListenerRegistry() {
    for (std::shared_ptr<JsCrossing>& fn : m_mapTsFn) {
        if (fn != nullptr) fn->Close(m_env);
        fn.reset();
    }
}

void ListenerRegistry::Register(napi_env env, napi_value object, CallJs callJs) {
    for (int index = 0; index < kListenerEventCount; ++index) {
        const char* name = kListenerEventNames[index];
        napi_value key = nullptr, property = nullptr;
        napi_valuetype type = napi_undefined;
        NAPI_CALL_VOID(env, napi_create_string_utf8(env, name, NAPI_AUTO_LENGTH, &key));
        NAPI_CALL_VOID(env, napi_get_property(env, object, key, &property));
        NAPI_CALL_VOID(env, napi_typeof(env, property, &type));
        if (type != napi_function) continue;
        m_mapJsFunc[index] = property;
        std::shared_ptr<JsCrossing> fn = JsCrossing::Create(env, property, name, callJs);
        if (fn == nullptr) return;  // raised
        std::shared_ptr<JsCrossing> replaced;
        {
            std::unique_lock<std::shared_mutex> lock(m_mxTsFn);
            replaced = std::move(m_mapTsFn[index]);
            m_mapTsFn[index] = std::move(fn);
        }
        // Events already posted to the replaced function still reach it; no new ones do.
        if (replaced != nullptr) replaced->Close(env);
    }
}

void ListenerRegistry::SetAttached(napi_env env, bool attached) {
    std::shared_lock<std::shared_mutex> lock(m_mxTsFn);
    for (const std::shared_ptr<JsCrossing>& fn : m_mapTsFn) {
        if (fn != nullptr) fn->KeepLoopAlive(env, attached);
    }
}

// ---------------------------------------------------------------- marshalling

void MarshalListenerEvent(napi_env env, napi_value jsCallback, void* data, bool stringUserIds) {
    auto* record = static_cast<ListenerEventData*>(data);
    if (env == nullptr || jsCallback == nullptr || record == nullptr) return;
    ListenerEventData& e = *record;
    napi_value argv[12] = {};
    size_t argc = 0;
    if (e.payload == ListenerEventData::kUsers) {
        argv[argc++] = MakeUsersArray(env, e, stringUserIds);
    } else {
        for (int i = 0; i < e.iCount && i < 2; ++i) NAPI_CALL_CONTINUE(env, napi_create_int32(env, e.iParam[i], &argv[argc++]));
        for (int i = 0; i < e.strCount && i < 4; ++i) {
            NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, e.strParam[i].data(), e.strParam[i].size(), &argv[argc++]));
        }
        if (e.bCount > 0) NAPI_CALL_CONTINUE(env, napi_get_boolean(env, e.bParam, &argv[argc++]));
        if (e.fCount > 0) NAPI_CALL_CONTINUE(env, napi_create_double(env, static_cast<double>(e.fParam), &argv[argc++]));
        if (e.dataCount > 0 && e.payload == ListenerEventData::kDataMessage) {
            if (e.bParam) {
                // The ArrayBuffer owns the bytes: JavaScript may keep it after the call.
                auto* owned = new std::vector<uint8_t>(std::move(e.bytes));
                argv[argc++] = MakeOwnedArrayBuffer(env, owned->data(), owned->size(), FreeByteVector, owned);
            } else {
                NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, reinterpret_cast<const char*>(e.bytes.data()),
                                                                e.bytes.size(), &argv[argc++]));
            }
        }
    }
    napi_value undefined = nullptr;
    NAPI_CALL_VOID(env, napi_get_undefined(env, &undefined));
    NAPI_CALL_CONTINUE(env, napi_call_function(env, undefined, jsCallback, argc, argv, nullptr));
}

void KOVAEngineListener::CallJSListener(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
    MarshalListenerEvent(env, jsCallback, data, false);
}

void KOVAEngineListenerV2::CallJSListener(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
    MarshalListenerEvent(env, jsCallback, data, true);
}

// ---------------------------------------------------------------- SDK callbacks, first interface

#define EMIT_WITH(name, fill) m_registry.Emit<ListenerEventIndex(name)>(fill)
#define EMIT(name, ...) EMIT_WITH(name, [&](ListenerEventData& e) { (void)Args{e} __VA_ARGS__; })

using L1 = KOVAEngineListener;
void L1::onFirstVideoFrame(int a, const char* b, int bl) { EMIT("onFirstVideoFrame", .I(a).S(b, bl)); }
void L1::onError(int a, const char* b, int bl) { EMIT("onError", .I(a).S(b, bl)); }
void L1::onErrorV2(int a, const char* b, int bl, const char* c, int cl) { EMIT("onErrorV2", .I(a).S(b, bl).S(c, cl)); }
void L1::onEnterRoom(User* users, int count) {
    EMIT_WITH("onEnterRoom", [&](ListenerEventData& e) { FillUsers(e, users, count); });
}
void L1::onEnterRoomSuccess(const char* a, int al) { EMIT("onEnterRoomSuccess", .S(a, al)); }
// The second string is not passed on.
void L1::onRemoteUserEnterRoom(int a, const char*, int, const char* c, int cl) { EMIT("onRemoteUserEnterRoom", .I(a).S(c, cl)); }
void L1::onConnected() { EMIT("onConnected", ); }
void L1::onConnectLost() { EMIT("onConnectLost", ); }
void L1::onConnectRecover() { EMIT("onConnectRecover", ); }
void L1::onNetTypeChange(int) {}
void L1::onSignalWorkWeak() {}
void L1::onUserDesktopAvailable(int a, const char* b, int bl, const char* c, int cl, bool d) {
    EMIT("onUserDesktopAvailable", .I(a).S(b, bl).S(c, cl).B(d));
}
void L1::onRemoteUserLeaveRoom(int a, int b) { EMIT("onRemoteUserLeaveRoom", .I(a).I(b)); }
void L1::onUserVideoAvailable(int a, const char* b, int bl, const char* c, int cl, bool d) {
    EMIT("onUserVideoAvailable", .I(a).S(b, bl).S(c, cl).B(d));
}
void L1::onUserAudioAvailable(int a, const char* b, int bl, bool c) { EMIT("onUserAudioAvailable", .I(a).S(b, bl).B(c)); }
void L1::onRemoteAudioActived(const char* a, int al) { EMIT("onRemoteAudioActived", .S(a, al)); }
void L1::onPauseConsumer(int a, const char* b, int bl, const char* c, int cl) { EMIT("onPauseConsumer", .I(a).S(b, bl).S(c, cl)); }
void L1::onResumeConsumer(int a, const char* b, int bl, const char* c, int cl) { EMIT("onResumeConsumer", .I(a).S(b, bl).S(c, cl)); }
// Two integers and the name: the first integer slot carries b, the second a.
void L1::onUserUpdateNickName(int a, int b, const char* c, int cl) { EMIT("onUserUpdateNickName", .I(b).I(a).S(c, cl)); }
void L1::onUserAudioVolumes(const char* a, int al) { EMIT("onUserAudioVolumes", .S(a, al)); }
void L1::onMixStream(const char* a, int al) { EMIT("onMixStream", .S(a, al)); }
void L1::onUpdateMixStream(const char* a, int al) { EMIT("onUpdateMixStream", .S(a, al)); }
void L1::onUserMessageReceived(int a, const char* b, int bl, const char* c, int cl) { EMIT("onUserMessageReceived", .I(a).S(b, bl).S(c, cl)); }
void L1::onUserRemoved(int a, const char* b, int bl, const char* c, int cl) { EMIT("onUserRemoved", .I(a).S(b, bl).S(c, cl)); }
void L1::onAudioMuteToRoom(int a, const char* b, int bl, const char* c, int cl) { EMIT("onAudioMuteToRoom", .I(a).S(b, bl).S(c, cl)); }
void L1::onAudioMuteToPeer(int a, const char* b, int bl, const char* c, int cl) { EMIT("onAudioMuteToPeer", .I(a).S(b, bl).S(c, cl)); }
void L1::onVideoCloseToRoom(int a, const char* b, int bl, const char* c, int cl) { EMIT("onVideoCloseToRoom", .I(a).S(b, bl).S(c, cl)); }
void L1::onVideoCloseToPeer(int a, const char* b, int bl, const char* c, int cl) { EMIT("onVideoCloseToPeer", .I(a).S(b, bl).S(c, cl)); }
void L1::onForbiddenChatToRoom(int a, const char* b, int bl, const char* c, int cl) { EMIT("onForbiddenChatToRoom", .I(a).S(b, bl).S(c, cl)); }
void L1::onUnForbiddenChatToRoom(int a, const char* b, int bl, const char* c, int cl) { EMIT("onUnForbiddenChatToRoom", .I(a).S(b, bl).S(c, cl)); }
void L1::onCustomSignalToRoom(int a, const char* b, int bl, const char* c, int cl, const char* d, int dl) {
    EMIT("onCustomSignalToRoom", .I(a).S(b, bl).S(c, cl).S(d, dl));
}
void L1::onCustomSignalToPeer(int a, const char* b, int bl, const char* c, int cl, const char* d, int dl) {
    EMIT("onCustomSignalToPeer", .I(a).S(b, bl).S(c, cl).S(d, dl));
}
void L1::onUserBroadcastMessage(int a, const char* b, int bl) { EMIT("onUserBroadcastMessage", .I(a).S(b, bl)); }
void L1::onUserSendMessageToPeer(int a, const char* b, int bl) { EMIT("onUserSendMessageToPeer", .I(a).S(b, bl)); }
void L1::onStat(const char* a, int al) { EMIT("onStat", .S(a, al)); }
void L1::onPublishStream(int a, const char* b, int bl, const char* c, int cl) { EMIT("onPublishStream", .I(a).S(b, bl).S(c, cl)); }
void L1::onDataStreamAvailable(const char* a, int al, const char* b, int bl, bool c) { EMIT("onDataStreamAvailable", .S(a, al).S(b, bl).B(c)); }
void L1::onSubscrbeDataStreamSuccess(const char* a, int al) { EMIT("onSubscribeDataStreamSuccess", .S(a, al)); }
void L1::OnDataStreamMessage(const char* a, int al, unsigned char* bytes, unsigned long size, bool binary) {
    EMIT_WITH("onDataStreamMessage", [&](ListenerEventData& e) { FillDataMessage(e, a, al, bytes, size, binary); });
}
void L1::OnUploadRtcLogsProgress(float progress) { EMIT("onUploadRtcLogsProgress", .F(progress)); }
void L1::OnUploadRtcLogsFinish(int result) { EMIT("onUploadRtcLogsFinish", .I(result)); }
void L1::onAudioDeviceChange() {}
void L1::onVideoCaptureDeviceChange() {}

// ---------------------------------------------------------------- SDK callbacks, second interface

using L2 = KOVAEngineListenerV2;
void L2::onFirstVideoFrame(const char* a, int al, const char* b, int bl) { EMIT("onFirstVideoFrame", .S(a, al).S(b, bl)); }
void L2::onError(int a, const char* b, int bl) { EMIT("onError", .I(a).S(b, bl)); }
void L2::onErrorV2(int a, const char* b, int bl, const char* c, int cl) { EMIT("onErrorV2", .I(a).S(b, bl).S(c, cl)); }
void L2::onEnterRoom(User* users, int count) {
    EMIT_WITH("onEnterRoom", [&](ListenerEventData& e) { FillUsers(e, users, count); });
}
void L2::onEnterRoomSuccess(const char* a, int al) { EMIT("onEnterRoomSuccess", .S(a, al)); }
void L2::onRemoteUserEnterRoom(const char* a, int al, const char* b, int bl) { EMIT("onRemoteUserEnterRoom", .S(a, al).S(b, bl)); }
void L2::onConnected() { EMIT("onConnected", ); }
void L2::onConnectLost() { EMIT("onConnectLost", ); }
void L2::onConnectRecover() { EMIT("onConnectRecover", ); }
void L2::onNetTypeChange(int) {}
void L2::onSignalWorkWeak() {}
void L2::onUserDesktopAvailable(const char* a, int al, const char* b, int bl, const char* c, int cl, bool d) {
    EMIT("onUserDesktopAvailable", .S(a, al).S(b, bl).S(c, cl).B(d));
}
// Integers come first, so JavaScript receives (b, a).
void L2::onRemoteUserLeaveRoom(const char* a, int al, int b) { EMIT("onRemoteUserLeaveRoom", .I(b).S(a, al)); }
void L2::onUserVideoAvailable(const char* a, int al, const char* b, int bl, const char* c, int cl, bool d) {
    EMIT("onUserVideoAvailable", .S(a, al).S(b, bl).S(c, cl).B(d));
}
void L2::onUserAudioAvailable(const char* a, int al, const char* b, int bl, bool c) { EMIT("onUserAudioAvailable", .S(a, al).S(b, bl).B(c)); }
void L2::onRemoteAudioActived(const char* a, int al) { EMIT("onRemoteAudioActived", .S(a, al)); }
void L2::onPauseConsumer(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onPauseConsumer", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onResumeConsumer(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onResumeConsumer", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onUserUpdateNickName(const char* a, int al, const char* b, int bl) { EMIT("onUserUpdateNickName", .S(a, al).S(b, bl)); }
void L2::onUserAudioVolumes(const char* a, int al) { EMIT("onUserAudioVolumes", .S(a, al)); }
void L2::onMixStream(const char* a, int al) { EMIT("onMixStream", .S(a, al)); }
void L2::onUpdateMixStream(const char* a, int al) { EMIT("onUpdateMixStream", .S(a, al)); }
void L2::onUserMessageReceived(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onUserMessageReceived", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onUserRemoved(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onUserRemoved", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onAudioMuteToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onAudioMuteToRoom", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onAudioMuteToPeer(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onAudioMuteToPeer", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onVideoCloseToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onVideoCloseToRoom", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onVideoCloseToPeer(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onVideoCloseToPeer", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onForbiddenChatToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onForbiddenChatToRoom", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onUnForbiddenChatToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) { EMIT("onUnForbiddenChatToRoom", .S(a, al).S(b, bl).S(c, cl)); }
void L2::onCustomSignalToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl, const char* d, int dl) {
    EMIT("onCustomSignalToRoom", .S(a, al).S(b, bl).S(c, cl).S(d, dl));
}
void L2::onCustomSignalToPeer(const char* a, int al, const char* b, int bl, const char* c, int cl, const char* d, int dl) {
    EMIT("onCustomSignalToPeer", .S(a, al).S(b, bl).S(c, cl).S(d, dl));
}
void L2::onUserBroadcastMessage(const char* a, int al, const char* b, int bl) { EMIT("onUserBroadcastMessage", .S(a, al).S(b, bl)); }
void L2::onUserSendMessageToPeer(const char* a, int al, const char* b, int bl) { EMIT("onUserSendMessageToPeer", .S(a, al).S(b, bl)); }
void L2::onStat(const char* a, int al) { EMIT("onStat", .S(a, al)); }
void L2::onPublishStream(int a, const char* b, int bl, const char* c, int cl) { EMIT("onPublishStream", .I(a).S(b, bl).S(c, cl)); }
void L2::onDataStreamAvailable(const char* a, int al, const char* b, int bl, bool c) { EMIT("onDataStreamAvailable", .S(a, al).S(b, bl).B(c)); }
void L2::onSubscrbeDataStreamSuccess(const char* a, int al) { EMIT("onSubscribeDataStreamSuccess", .S(a, al)); }
void L2::OnDataStreamMessage(const char* a, int al, unsigned char* bytes, unsigned long size, bool binary) {
    EMIT_WITH("onDataStreamMessage", [&](ListenerEventData& e) { FillDataMessage(e, a, al, bytes, size, binary); });
}
void L2::OnUploadRtcLogsProgress(float progress) { EMIT("onUploadRtcLogsProgress", .F(progress)); }
void L2::OnUploadRtcLogsFinish(int result) { EMIT("onUploadRtcLogsFinish", .I(result)); }
void L2::onAudioDeviceChange() {}
void L2::onVideoCaptureDeviceChange() {}
