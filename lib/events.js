'use strict';
// The 39 listener event names that KOVAEngineSetApiListener and KOVAEngineSetApiListenerV2
// register, in the order the addon reads them. Handy for building a listener that handles every
// event (a logger, a forwarder to the renderer process):
//   const { LISTENER_EVENTS } = require('kova-electron-sdk/lib/events');
//   const listener = Object.fromEntries(LISTENER_EVENTS.map((name) => [name, (...args) => log(name, args)]));

const LISTENER_EVENTS = Object.freeze([
  'onFirstVideoFrame', 'onError', 'onEnterRoom', 'onRemoteUserEnterRoom', 'onConnected',
  'onConnectLost', 'onUserDesktopAvailable', 'onRemoteUserLeaveRoom', 'onUserVideoAvailable',
  'onUserAudioAvailable', 'onRemoteAudioActived', 'onPauseConsumer', 'onResumeConsumer',
  'onUserUpdateNickName', 'onUserAudioVolumes', 'onMixStream', 'onUpdateMixStream',
  'onUserMessageReceived', 'onUserRemoved', 'onAudioMuteToRoom', 'onAudioMuteToPeer',
  'onVideoCloseToRoom', 'onVideoCloseToPeer', 'onForbiddenChatToRoom', 'onUnForbiddenChatToRoom',
  'onCustomSignalToRoom', 'onCustomSignalToPeer', 'onUserBroadcastMessage', 'onUserSendMessageToPeer',
  'onStat', 'onConnectRecover', 'onEnterRoomSuccess', 'onPublishStream', 'onDataStreamAvailable',
  'onSubscribeDataStreamSuccess', 'onDataStreamMessage', 'onUploadRtcLogsProgress',
  'onUploadRtcLogsFinish', 'onErrorV2',
]);

module.exports = { LISTENER_EVENTS };
