#include "ListenerEvents.h"

#include <map>
#include <string>

#include "Decode.h"

namespace kova_standin {

namespace {

// Both listener interfaces have these callbacks, in slot order; their parameters differ.
#define KOVA_LISTENER_EVENTS(X)                                                                        \
    X(onFirstVideoFrame) X(onError) X(onErrorV2) X(onEnterRoom) X(onEnterRoomSuccess)                  \
    X(onRemoteUserEnterRoom) X(onConnected) X(onConnectLost) X(onConnectRecover) X(onNetTypeChange)    \
    X(onSignalWorkWeak) X(onUserDesktopAvailable) X(onRemoteUserLeaveRoom) X(onUserVideoAvailable)     \
    X(onUserAudioAvailable) X(onRemoteAudioActived) X(onPauseConsumer) X(onResumeConsumer)             \
    X(onUserUpdateNickName) X(onUserAudioVolumes) X(onMixStream) X(onUpdateMixStream)                  \
    X(onUserMessageReceived) X(onUserRemoved) X(onAudioMuteToRoom) X(onAudioMuteToPeer)                \
    X(onVideoCloseToRoom) X(onVideoCloseToPeer) X(onForbiddenChatToRoom) X(onUnForbiddenChatToRoom)    \
    X(onCustomSignalToRoom) X(onCustomSignalToPeer) X(onUserBroadcastMessage)                          \
    X(onUserSendMessageToPeer) X(onStat) X(onPublishStream) X(onDataStreamAvailable)                   \
    X(onSubscrbeDataStreamSuccess) X(OnDataStreamMessage) X(OnUploadRtcLogsProgress)                   \
    X(OnUploadRtcLogsFinish) X(onAudioDeviceChange) X(onVideoCaptureDeviceChange)

template <typename L>
using Binder = std::function<void(L*)> (*)(ArgDecoder&);

template <typename L>
const std::map<std::string, Binder<L>>& Events() {
    static const std::map<std::string, Binder<L>> events = {
#define KOVA_BIND_EVENT(name) {#name, [](ArgDecoder& d) { return BindListenerCall(&L::name, d); }},
        KOVA_LISTENER_EVENTS(KOVA_BIND_EVENT)
#undef KOVA_BIND_EVENT
    };
    return events;
}

template <typename L>
std::function<void(L*)> Bind(const Json& command) {
    auto event = command.find("event");
    if (event == command.end() || !event->is_string()) return {};
    const auto& events = Events<L>();
    auto it = events.find(event->get<std::string>());
    if (it == events.end()) return {};
    ArgDecoder decoder(command);
    return it->second(decoder);
}

}  // namespace

std::function<void(solvane::kovawin::KOVAListener*)> BindEventV1(const Json& command) {
    return Bind<solvane::kovawin::KOVAListener>(command);
}

std::function<void(solvane::kovawin::KOVAListenerV2*)> BindEventV2(const Json& command) {
    return Bind<solvane::kovawin::KOVAListenerV2>(command);
}

}  // namespace kova_standin
