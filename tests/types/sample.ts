// Every function of the package called with its declared argument types; the results are checked
// against their exact declared types, so a declaration that drifted to `any` or `string` fails here.
// Imported through the repository root, so the package.json "types" entry is what resolves.
import * as kova from '../..';
import type {
  ApiListener,
  ApiListenerV2,
  AudioDevice,
  CaptureSource,
  ListenerEventName,
  SAIResultCode,
  VideoFrame,
} from '../..';
import { LISTENER_EVENTS } from '../../lib/events';
import { addonCandidates, locateAddon } from '../../lib/locate';

type Equal<A, B> = (<T>() => T extends A ? 1 : 2) extends <T>() => T extends B ? 1 : 2 ? true : false;
function exact<A>() {
  return <B>(value: B & (Equal<A, B> extends true ? unknown : never)) => value;
}
type S = 'operation success.';
type Errors = 'param count error' | 'param type error';

// The 39 event names, no more and no fewer (a missing key or an extra one does not compile).
const everyEvent: Record<ListenerEventName, true> = {
  onFirstVideoFrame: true, onError: true, onEnterRoom: true, onRemoteUserEnterRoom: true, onConnected: true,
  onConnectLost: true, onUserDesktopAvailable: true, onRemoteUserLeaveRoom: true, onUserVideoAvailable: true,
  onUserAudioAvailable: true, onRemoteAudioActived: true, onPauseConsumer: true, onResumeConsumer: true,
  onUserUpdateNickName: true, onUserAudioVolumes: true, onMixStream: true, onUpdateMixStream: true,
  onUserMessageReceived: true, onUserRemoved: true, onAudioMuteToRoom: true, onAudioMuteToPeer: true,
  onVideoCloseToRoom: true, onVideoCloseToPeer: true, onForbiddenChatToRoom: true, onUnForbiddenChatToRoom: true,
  onCustomSignalToRoom: true, onCustomSignalToPeer: true, onUserBroadcastMessage: true,
  onUserSendMessageToPeer: true, onStat: true, onConnectRecover: true, onEnterRoomSuccess: true,
  onPublishStream: true, onDataStreamAvailable: true, onSubscribeDataStreamSuccess: true,
  onDataStreamMessage: true, onUploadRtcLogsProgress: true, onUploadRtcLogsFinish: true, onErrorV2: true,
};
exact<keyof ApiListener>()(Object.keys(everyEvent)[0] as keyof ApiListenerV2);
exact<readonly ListenerEventName[]>()(LISTENER_EVENTS);
exact<string>()(locateAddon({ KOVA_BUILD_DIR: '/tmp/build' }));
addonCandidates().forEach((c) => void [exact<string>()(c.file), c.from]);

function drawFrame(frame: VideoFrame): void {
  const y: Uint8Array | undefined = frame.streamY;
  const size: number = frame.width * frame.height + frame.strideY + frame.strideU + frame.strideV + frame.rotate;
  const key: string = frame.streamId;
  const when: number = frame.timestamp;
  void [y, frame.streamU?.byteLength, frame.streamV?.[0], size, key, when];
}

const listener: ApiListener = {
  onFirstVideoFrame: (userId: number, streamId: string) => void [userId, streamId],
  onError: (code: number, message: string) => void [code, message],
  onErrorV2: (code, message, detail) => void [code, message, detail],
  onEnterRoom: (users) => users.forEach((u) => void [exact<number>()(u.userId), exact<string>()(u.nickName)]),
  onEnterRoomSuccess: (text) => void text,
  onRemoteUserEnterRoom: (userId: number, nickName: string) => void [userId, nickName],
  onConnected: () => undefined,
  onConnectLost: () => undefined,
  onConnectRecover: () => undefined,
  onUserDesktopAvailable: (userId: number, streamId, c, available: boolean) => void [userId, streamId, c, available],
  onRemoteUserLeaveRoom: (userId: number, b: number) => void [userId, b],
  onUserVideoAvailable: (userId, streamId, c, available) => void [userId, streamId, c, available],
  onUserAudioAvailable: (userId, streamId, available: boolean) => void [userId, streamId, available],
  onRemoteAudioActived: (text) => void text,
  onPauseConsumer: (userId: number, b, c) => void [userId, b, c],
  onResumeConsumer: (userId, b, c) => void [userId, b, c],
  onUserUpdateNickName: (b: number, a: number, nickName: string) => void [b, a, nickName],
  onUserAudioVolumes: (text) => void text,
  onMixStream: (text) => void text,
  onUpdateMixStream: (text) => void text,
  onUserMessageReceived: (userId, b, c) => void [userId, b, c],
  onUserRemoved: (userId, b, c) => void [userId, b, c],
  onAudioMuteToRoom: (userId, b, c) => void [userId, b, c],
  onAudioMuteToPeer: (userId, b, c) => void [userId, b, c],
  onVideoCloseToRoom: (userId, b, c) => void [userId, b, c],
  onVideoCloseToPeer: (userId, b, c) => void [userId, b, c],
  onForbiddenChatToRoom: (userId, b, c) => void [userId, b, c],
  onUnForbiddenChatToRoom: (userId, b, c) => void [userId, b, c],
  onCustomSignalToRoom: (userId: number, b, c, d: string) => void [userId, b, c, d],
  onCustomSignalToPeer: (userId, b, c, d) => void [userId, b, c, d],
  onUserBroadcastMessage: (userId: number, message: string) => void [userId, message],
  onUserSendMessageToPeer: (userId, message) => void [userId, message],
  onStat: (text: string) => void text,
  onPublishStream: (a: number, b, c) => void [a, b, c],
  onDataStreamAvailable: (name, b, available: boolean) => void [name, b, available],
  onSubscribeDataStreamSuccess: (name: string) => void name,
  // The message type follows the binary flag.
  onDataStreamMessage: (name, binary, message) => {
    if (binary) exact<ArrayBuffer>()(message);
    else exact<string>()(message);
    void name;
  },
  onUploadRtcLogsProgress: (progress: number) => void progress,
  onUploadRtcLogsFinish: (result: number) => void result,
};

const listenerV2: ApiListenerV2 = {
  onFirstVideoFrame: (userId: string, streamId: string) => void [userId, streamId],
  onEnterRoom: (users) => users.forEach((u) => void [exact<string>()(u.userId), exact<string>()(u.nickName)]),
  onRemoteUserEnterRoom: (userId: string, nickName: string) => void [userId, nickName],
  onRemoteUserLeaveRoom: (b: number, userId: string) => void [b, userId],
  onUserVideoAvailable: (userId: string, streamId, c, available: boolean) => void [userId, streamId, c, available],
  onUserUpdateNickName: (userId: string, nickName: string) => void [userId, nickName],
  onCustomSignalToPeer: (userId: string, b, c, d) => void [userId, b, c, d],
  // A handler that takes the wide type of the message is accepted too.
  onDataStreamMessage: (name: string, binary: boolean, message: ArrayBuffer | string) => void [name, binary, message],
  onError: (code) => void code,
};

const cameras = (devices: CaptureSource[]) => devices.map((d) => [exact<number>()(d.id), d.name, d.uniqueId]);
const speakers = (devices: AudioDevice[]) => devices.map((d) => [d.id, d.uniqueId, exact<string>()(d.name)]);
const sai = (code: SAIResultCode) => void exact<SAIResultCode>()(code);

const ok = exact<S>();
ok(kova.KOVAEngineSetEnv(0));
ok(kova.KOVAEngineSetDebugLogEnable(true));
exact<S | 'param type error'>()(kova.KOVAEngineSetApiUrl('https://example.invalid/api'));
exact<'' | Errors>()(kova.KOVAEngineSetSDKConfigPath('/tmp/kova'));
exact<'' | Errors>()(kova.KOVAEngineSetSDKConfigString('{"k":1}'));
ok(kova.KOVAEngineInit());
ok(kova.KOVAEngineSetApiListener(listener));
ok(kova.KOVAEngineSetApiListener(null));
ok(kova.KOVAEngineSetApiListenerV2(listenerV2));
ok(kova.KOVAEngineSetApiListenerV2(null));
ok(kova.KOVAEngineSetDebugLogCallback((level: number, text: string) => void [level, text]));
ok(kova.KOVAEngineSetDebugLogCallback(null));
ok(kova.KOVAEngineSetAppName('demo'));
ok(kova.KOVAEngineSetSDKConfigParam('key=value'));
ok(kova.KOVAEngineGeneralToken({
  meetingId: 'm', userId: 'u', timestamp: 1700000000000, appKey: 'k', appId: 'a',
  callback: (token: string) => void token,
}));
ok(kova.KOVAEngineEnterRoom({
  roomId: 5, userRoomId: 'room-5', roomType: 1, sdkVersion: '1.0', nickName: 'me', token: 't', appId: 'a',
  userId: 'u', nonce: 'n', timestamp: Date.now(), deviceId: 'd', deviceName: 'host', deviceType: 'pc',
  deviceMode: 'x', deviceVersion: '1',
}));
ok(kova.KOVAEngineGetCameraDevicesList(cameras));
ok(kova.KOVAEngineGetScreenCaptureSources(cameras));
ok(kova.KOVAEngineGetWindowCaptureSources((sources) => void sources.length));
ok(kova.KOVAEngineGetPlayoutSources(speakers));
ok(kova.KOVAEngineGetRecordingSources(speakers));
ok(kova.KOVAEngineSetCurrentCameraDevice(0));
ok(kova.KOVAEngineChangeCameraByIndex(1));
ok(kova.KOVAEngineChangeCameraByUID('cam-1'));
ok(kova.KOVAEngineSetCameraDeviceByUID('cam-1'));
ok(kova.KOVAEngineSetPlayoutDevice(0));
ok(kova.KOVAEngineSetRecordingDevice(0));
ok(kova.KOVAEngineSetPlayoutDeviceByUID('spk'));
ok(kova.KOVAEngineSetRecordingDeviceByUID('mic'));
ok(kova.KOVAEngineSetSpeakerVolume(200));
ok(kova.KOVAEngineSetMicrophoneVolume(200));
exact<number>()(kova.KOVAEngineGetSpeakerVolume());
exact<number>()(kova.KOVAEngineGetMicrophoneVolume());
exact<number>()(kova.KOVAEngineGetSystemSleepState());
exact<0 | 1>()(kova.KOVAEngineHasMacVirtualDevice());
exact<string>()(kova.KOVAEngineGetDeviceID());
exact<number>()(kova.KOVAEngineFindWindowIdByTitle('Notes'));
ok(kova.KOVAEngineStartLocalAudio());
ok(kova.KOVAEngineStartLocalAudio(1));
ok(kova.KOVAEngineStopLocalAudio());
ok(kova.KOVAEngineStartLocalScreenAudio());
ok(kova.KOVAEngineStartLocalScreenAudio(2));
ok(kova.KOVAEngineStopLocalScreenAudio());
ok(kova.KOVAEngineStartRemoteAudio(1, 'audio-1'));
ok(kova.KOVAEngineStartRemoteAudioV2('u1', 'audio-1'));
ok(kova.KOVAEngineStopRemoteAudio(1, 'audio-1'));
ok(kova.KOVAEngineStopRemoteAudioV2('u1', 'audio-1'));
ok(kova.KOVAEngineMuteLocalAudio(true));
ok(kova.KOVAEngineMuteRemoteAudio(1, 'audio-1', true));
ok(kova.KOVAEngineMuteRemoteAudioV2('u1', 'audio-1', false));
ok(kova.KOVAEngineMuteRemoteAllAudio(true));
ok(kova.KOVAEngineSetAudioAINoiseExEnable(true));
ok(kova.KOVAEngineStartLocalPreview({ width: 640, height: 480, streamCB: drawFrame }));
ok(kova.KOVAEngineStartLocalPreviewTest({
  width: 320, height: 240, highPriority: 1, resolutionMode: 0, isMultiRate: false, kovaEngine: {},
  streamCB: drawFrame, isMirror: false,
}));
exact<S | 'param type error'>()(kova.KOVAEngineSetLocalVideoMirror(true));
ok(kova.KOVAEngineSetVideoEncodingParam(1, 2));
ok(kova.KOVAEngineMuteLocalVideo(false));
ok(kova.KOVAEngineStartRemoteView({
  userId: 1, streamId: 's1', width: 640, height: 360, streamSubscribeModelType: 1, streamBitrateType: 0,
  streamCB: drawFrame,
}));
ok(kova.KOVAEngineStartRemoteDesktopView({
  userId: 'u2', streamId: 'd2', width: 1280, height: 720, streamSubscribeModelType: 1, streamBitrateType: 0,
  kovaEngine: {}, streamCB: (frame) => drawFrame(frame),
}));
ok(kova.KOVAEngineChangeVideoStream(1, 's1', 2, 1));
ok(kova.KOVAEngineChangeVideoStreamV2('u1', 's1', 2, 1));
ok(kova.KOVAEngineMuteRemoteVideo(1, 's1', true));
ok(kova.KOVAEngineMuteRemoteVideoV2('u1', 's1', true));
ok(kova.KOVAEngineMuteAllRemoteVideo(false));
const screen: CaptureSource = { id: 0, name: 'Screen 1', uniqueId: 'screen-0' };
ok(kova.KOVAEngineStartDesktopCapturePreview({ captureInfo: screen, width: 320, height: 180, streamCB: drawFrame }));
ok(kova.KOVAEngineStartDesktopCaptureShare({
  captureInfo: { id: 0, uniqueId: 'screen-0', name: 'Screen 1' }, desktopType: 0, width: 1920, height: 1080,
  thumbnailType: 1, highPriority: 1, isMultiRate: true, excludedWindowIds: [5, 7],
}));
ok(kova.KOVAEngineStopDesktopCaptureShare({ captureInfo: screen }));
ok(kova.KOVAEngineStopDesktopCapturePreview({
  desktopPreviewSize: 1, desktopPreviewArray: [{ captureInfo: screen }], finishCallback: (result: number) => void result,
}));
ok(kova.KOVAEngineStopRemoteView(1, 's1'));
ok(kova.KOVAEngineStopRemoteViewV2('u1', 's1'));
ok(kova.KOVAEngineStopRemoteDesktopView(2, 'd2'));
ok(kova.KOVAEngineStopRemoteDesktopViewV2('u2', 'd2'));
ok(kova.KOVAEngineStopLocalPreview());
ok(kova.KOVAEngineStopLocalPreviewTest());
ok(kova.KOVAEngineSendChatMessage({ i_userId: 1, userId: 'u1', message: 'hello' }));
ok(kova.KOVAEngineInitBroadCast(1, 2, {
  peerId: 1, sdkVersion: '1', nickName: 'me', token: 't', appId: 'a', userId: 'u', nonce: 'n', timestamp: 0,
}));
ok(kova.KOVAEngineChangeNickName(1, 2, 'me'));
ok(kova.KOVAEngineChangeNickNameV2('u1', 'me'));
ok(kova.KOVAEngineSendControlMessage(1, 3, { event: 'raise-hand', extraData: '{}' }));
ok(kova.KOVAEngineSendControlMessageV2('u1', 3, { event: 'raise-hand', extraData: '' }));
ok(kova.KOVAEngineEnableStreamStat(1, 1000));
ok(kova.KOVAEngineInstallAudioDrive());
ok(kova.KOVAEngineSubscribeDataStream('telemetry'));
ok(kova.KOVAEngineUnsubscribeDataStream('telemetry'));
ok(kova.KOVAEngineStartUploadRtcLogs('today', 1));
ok(kova.KOVAEngineGetSDKStats((stats: string) => void stats));
exact<S | 'param type error'>()(kova.KOVAEngineStartRecordingTest((level: number) => void level));
exact<S | 'param type error'>()(kova.KOVAEngineStartRecordingTest((level) => void level, 'mic'));
ok(kova.KOVAEngineStopRecordingTest());
exact<S | 'param type error'>()(kova.KOVAEngineStartPlayoutTest('tone.wav', (a: number, b: number) => void [a, b]));
exact<S | 'param type error'>()(kova.KOVAEngineStartPlayoutTest(undefined, (a) => void a));
ok(kova.KOVAEngineStopPlayoutTest());
ok(kova.KOVAEngineSubscribeMillionAudio());
ok(kova.KOVAEngineUnSubscribeMillionAudio());
exact<S | 'param type error'>()(kova.KOVAEnginePrintLog('a line'));
ok(kova.KOVAEngineReportEventError(21014001, 'text'));
exact<S | Errors>()(kova.KOVAEngineSetExternalDeviceStateCallback((state: boolean) => void state));
exact<S | Errors>()(kova.KOVAEngineSetExternalDeviceStateCallback(null));
ok(kova.SAIManagerCheckOpenGL(0, '', sai));
ok(kova.SAIManagerInit(0, 'model-data', 'config', sai));
ok(kova.SAIManagerInitByAppId(0, 'app', (code) => void exact<SAIResultCode>()(code)));
ok(kova.SAIManagerEnableFeature(1, 'blur', sai));
ok(kova.SAIManagerDisableFeature());
ok(kova.SAIManagerUnInit());
exact<number>()(kova.CTR_SetClientCallBack((message: string) => void message, (status: number) => void status));
exact<number>()(kova.CTR_CreateClient('127.0.0.1', 9000));
exact<number>()(kova.CTR_SendDataToServer('{"cmd":1}'));
exact<number>()(kova.CTR_StopClient());
ok(kova.KOVAEngineExitRoom((result: number) => void result));
ok(kova.KOVAEngineUninit());
