// Type declarations of kova-electron-sdk: the 102 functions of the native addon KOVAElectronSDK.node,
// the listener objects of both versions, the argument objects and what the callbacks receive.
//
// When things run:
// - Every function runs synchronously on the JavaScript thread and calls the SDK before it returns.
//   Its return value says only that the call was accepted ("operation success."); the SDK's own
//   result is not returned, except by the queries (numbers and strings) and the CTR_ functions.
// - Results that the SDK produces later (device lists, capture sources, statistics, debug-log lines,
//   audio-test levels, the end of leaving a room) and every listener event and video frame arrive
//   afterwards, as calls of the functions you handed in, on the JavaScript thread, from the event
//   loop. They never run inside the call that registered them, except the token callback of
//   KOVAEngineGeneralToken and the immediate answers of the SAIManager functions.
// - Wrong arguments throw a TypeError "param count error" (too few) or "param type error" (wrong
//   type) and reach no SDK call, unless a function's comment says that it returns these texts.
// - Most functions need the engine: call KOVAEngineInit first (KOVAEngineSetEnv,
//   KOVAEngineSetDebugLogEnable, KOVAEngineSetDebugLogCallback, KOVAEngineSetApiUrl and
//   CTR_SetClientCallBack create it too). KOVAEngineUninit ends it.

// ------------------------------------------------------------------------------------ results

/** The result of every accepted call that returns no value of the SDK's. */
export type Success = 'operation success.';
/** The argument errors, as thrown in a TypeError or, for a few functions, returned as text. */
export type ArgumentError = 'param count error' | 'param type error';

// ------------------------------------------------------------------------------ callback data

/** A camera, a screen or a window: KOVAEngineGetCameraDevicesList, ...ScreenCaptureSources, ...WindowCaptureSources. */
export interface CaptureSource {
  id: number;
  name: string;
  uniqueId: string;
}

/** A speaker or a microphone: KOVAEngineGetPlayoutSources, KOVAEngineGetRecordingSources. */
export interface AudioDevice {
  id: number;
  uniqueId: string;
  name: string;
}

/**
 * One video frame, planar YUV (I420 for cameras): Y is height × strideY bytes, U and V are
 * height × stride / 2 bytes each (so each chroma row of width / 2 samples starts every stride bytes).
 * The frame object and its planes belong to JavaScript once it is delivered: keep them as long as
 * needed. A plane the SDK did not provide is absent.
 */
export interface VideoFrame {
  width: number;
  height: number;
  /** Rotation as the SDK reports it. */
  rotate: number;
  strideY: number;
  strideU: number;
  strideV: number;
  /** Arrival time in the addon, milliseconds since 1970. */
  timestamp: number;
  /** The stream key: "local", the remote stream id, or the capture source's unique id. */
  streamId: string;
  streamY?: Uint8Array;
  streamU?: Uint8Array;
  streamV?: Uint8Array;
}

/** Receives the frames of one started stream, oldest first; at most four wait, newer ones are dropped. */
export type StreamCallback = (frame: VideoFrame) => void;

/** A user in the onEnterRoom list: numeric user ids for the version-1 listener, strings for version 2. */
export interface EnterRoomUser<UserId extends number | string = number> {
  userId: UserId;
  nickName: string;
}

/** A user in the onEnterRoom list of the version-2 listener. */
export type EnterRoomUserV2 = EnterRoomUser<string>;

/** Codes that the SAIManager callbacks receive: 0 success, -1 library missing, -2 request pending, -3 to -11 the library's results (-9 also: enabling before init), -12 no result from the library in time. */
export type SAIResultCode = 0 | -1 | -2 | -3 | -4 | -5 | -6 | -7 | -8 | -9 | -10 | -11 | -12;

// --------------------------------------------------------------------------------- listeners

/**
 * onDataStreamMessage receives the message bytes as an ArrayBuffer when `binary` is true, as a
 * string otherwise.
 */
export type DataStreamMessageHandler = (
  ...args: [name: string, binary: true, message: ArrayBuffer] | [name: string, binary: false, message: string]
) => void;

/** Events whose arguments are the same in both listener versions. */
interface CommonListener {
  onErrorV2?: (code: number, message: string, detail: string) => void;
  onEnterRoomSuccess?: (text: string) => void;
  onConnected?: () => void;
  onConnectLost?: () => void;
  onConnectRecover?: () => void;
  onRemoteAudioActived?: (text: string) => void;
  onUserAudioVolumes?: (text: string) => void;
  onMixStream?: (text: string) => void;
  onUpdateMixStream?: (text: string) => void;
  onStat?: (text: string) => void;
  onPublishStream?: (a: number, b: string, c: string) => void;
  onDataStreamAvailable?: (name: string, b: string, available: boolean) => void;
  onSubscribeDataStreamSuccess?: (name: string) => void;
  onDataStreamMessage?: DataStreamMessageHandler;
  /** Progress of KOVAEngineStartUploadRtcLogs, 0 to 1. */
  onUploadRtcLogsProgress?: (progress: number) => void;
  /** End of KOVAEngineStartUploadRtcLogs with the SDK's result. */
  onUploadRtcLogsFinish?: (result: number) => void;
  onError?: (code: number, message: string) => void;
}

/** The events that differ between the versions only in the type of the user id. */
interface UserEvents<UserId extends number | string> {
  onFirstVideoFrame?: (userId: UserId, streamId: string) => void;
  onEnterRoom?: (users: EnterRoomUser<UserId>[]) => void;
  onRemoteUserEnterRoom?: (userId: UserId, nickName: string) => void;
  onUserDesktopAvailable?: (userId: UserId, streamId: string, c: string, available: boolean) => void;
  onUserVideoAvailable?: (userId: UserId, streamId: string, c: string, available: boolean) => void;
  onUserAudioAvailable?: (userId: UserId, streamId: string, available: boolean) => void;
  onPauseConsumer?: (userId: UserId, b: string, c: string) => void;
  onResumeConsumer?: (userId: UserId, b: string, c: string) => void;
  onUserMessageReceived?: (userId: UserId, b: string, c: string) => void;
  onUserRemoved?: (userId: UserId, b: string, c: string) => void;
  onAudioMuteToRoom?: (userId: UserId, b: string, c: string) => void;
  onAudioMuteToPeer?: (userId: UserId, b: string, c: string) => void;
  onVideoCloseToRoom?: (userId: UserId, b: string, c: string) => void;
  onVideoCloseToPeer?: (userId: UserId, b: string, c: string) => void;
  onForbiddenChatToRoom?: (userId: UserId, b: string, c: string) => void;
  onUnForbiddenChatToRoom?: (userId: UserId, b: string, c: string) => void;
  onCustomSignalToRoom?: (userId: UserId, b: string, c: string, d: string) => void;
  onCustomSignalToPeer?: (userId: UserId, b: string, c: string, d: string) => void;
  onUserBroadcastMessage?: (userId: UserId, message: string) => void;
  onUserSendMessageToPeer?: (userId: UserId, message: string) => void;
}

/**
 * The listener of KOVAEngineSetApiListener: users are identified by numbers. Every property is
 * optional; only these 39 names, spelled exactly so, are registered, and an event without a
 * function is dropped inside the addon. The functions are called later, on the JavaScript thread,
 * in the order in which the SDK reported each event (events of different names may interleave).
 * The argument names other than user ids are descriptive only: their meaning is the SDK's.
 */
export interface ApiListener extends CommonListener, UserEvents<number> {
  onRemoteUserLeaveRoom?: (userId: number, b: number) => void;
  /** The SDK's second number first, then its first, then the nick name. */
  onUserUpdateNickName?: (b: number, a: number, nickName: string) => void;
}

/**
 * The listener of KOVAEngineSetApiListenerV2: users are identified by strings. Same rules as
 * ApiListener. Numbers always come before strings, so onRemoteUserLeaveRoom receives
 * (number, userId).
 */
export interface ApiListenerV2 extends CommonListener, UserEvents<string> {
  onRemoteUserLeaveRoom?: (b: number, userId: string) => void;
  onUserUpdateNickName?: (userId: string, nickName: string) => void;
}

/** The 39 event names that the listeners register. */
export type ListenerEventName = keyof ApiListener;

// -------------------------------------------------------------------------- argument objects
// Strings are cut to their first 255 bytes (UTF-8). Properties are read in the order listed; a
// property marked "required" that is missing or of another type ends the reading quietly, so the
// properties after it keep their defaults.

/** The login fields shared by EnterRoomParams and AuthInfo, read in this order. */
export interface Credentials {
  sdkVersion: string;
  nickName: string;
  token: string;
  appId: string;
  userId: string;
  nonce: string;
  /** 64-bit integer, e.g. milliseconds since 1970. */
  timestamp: number;
}

/**
 * KOVAEngineEnterRoom: roomId, userRoomId, roomType, the Credentials, then the device fields.
 * roomType must be a number (otherwise an Error is thrown after the SDK call).
 */
export interface EnterRoomParams extends Credentials {
  /** Optional; 0 or negative (or absent) is passed as -1. */
  roomId?: number;
  /** Optional; empty or absent is passed as no user room id. */
  userRoomId?: string;
  roomType: number;
  deviceId: string;
  deviceName: string;
  deviceType: string;
  deviceMode: string;
  deviceVersion: string;
}

/** KOVAEngineStartLocalPreview and KOVAEngineStartLocalPreviewTest; frames arrive under the key "local". */
export interface LocalPreviewParams {
  width: number;
  height: number;
  highPriority?: number;
  resolutionMode?: number;
  /** Default true. */
  isMultiRate?: boolean;
  /** Kept by the addon with the stream; not used otherwise. */
  kovaEngine?: object;
  streamCB: StreamCallback;
  /** Default true. */
  isMirror?: boolean;
}

/** KOVAEngineStartRemoteView and KOVAEngineStartRemoteDesktopView; frames arrive under the stream id. */
export interface RemoteViewParams {
  /** A number selects the version-1 user id, a string the version-2 one. */
  userId: number | string;
  streamId: string;
  width: number;
  height: number;
  /** The SDK's subscribe model (1 when the object does not get this far). */
  streamSubscribeModelType: number;
  /** The SDK's bitrate choice. */
  streamBitrateType: number;
  /** Kept by the addon with the stream; not used otherwise. */
  kovaEngine?: object;
  streamCB: StreamCallback;
}

/** The capture source of a desktop preview or share: a CaptureSource from the list functions fits. */
export interface DesktopCaptureSource {
  id?: number;
  uniqueId?: string;
  /** A preview starts only when the name is not empty. */
  name?: string;
}

/**
 * KOVAEngineStartDesktopCapturePreview (frames arrive under captureInfo.uniqueId),
 * KOVAEngineStartDesktopCaptureShare and KOVAEngineStopDesktopCaptureShare. Every property is
 * optional; a property of another type is skipped.
 */
export interface DesktopPreviewParams {
  captureInfo?: DesktopCaptureSource;
  desktopType?: number;
  width?: number;
  height?: number;
  /** Default 1. */
  thumbnailType?: number;
  highPriority?: number;
  isMultiRate?: boolean;
  kovaEngine?: object;
  /** Needed by KOVAEngineStartDesktopCapturePreview to receive frames. */
  streamCB?: StreamCallback;
  /** Window ids (integers) left out of a share. */
  excludedWindowIds?: number[];
}

/** KOVAEngineStopDesktopCapturePreview: stops every listed preview, then calls finishCallback once. */
export interface DesktopPreviewStopParams {
  /** How many entries of desktopPreviewArray to read; below 1 nothing is stopped. */
  desktopPreviewSize: number;
  desktopPreviewArray: DesktopPreviewParams[];
  /** Called later with the SDK's result. */
  finishCallback: (result: number) => void;
}

/** The content of KOVAEngineSendControlMessage and KOVAEngineSendControlMessageV2. */
export interface ControlContent {
  event: string;
  extraData: string;
}

/** The login of KOVAEngineInitBroadCast: peerId, then the Credentials (accepted, not forwarded to the SDK). */
export interface AuthInfo extends Credentials {
  peerId: number;
}

/** KOVAEngineSendChatMessage. All three are needed: a missing one throws an Error. */
export interface ChatMessage {
  i_userId: number;
  userId: string;
  message: string;
}

/** KOVAEngineGeneralToken. All six are needed: a missing one throws an Error and the SDK is not called. */
export interface TokenParams {
  meetingId: string;
  userId: string;
  /** 64-bit integer. */
  timestamp: number;
  appKey: string;
  appId: string;
  /** Called synchronously, before KOVAEngineGeneralToken returns, with the token ("" without an SDK). */
  callback: (token: string) => void;
}

// ------------------------------------------------------------ the functions, in install order

/** Creates the engine (loading the SDK beside the addon) and initialises the SDK. */
export function KOVAEngineInit(): Success;
/** Destroys the engine; every stream and listener ends. The SDK library stays loaded. */
export function KOVAEngineUninit(): Success;
/** Creates the engine when needed. */
export function KOVAEngineSetEnv(env: number): Success;
/** An object registers its event functions and attaches the listener; null detaches it (registrations are kept). Re-registering replaces only the events the new object defines. */
export function KOVAEngineSetApiListener(listener: ApiListener | null): Success;
/** As KOVAEngineSetApiListener, for the version-2 listener (string user ids). */
export function KOVAEngineSetApiListenerV2(listener: ApiListenerV2 | null): Success;
/** Joins a room; the outcome arrives as listener events (onEnterRoom, onEnterRoomSuccess, onError...). */
export function KOVAEngineEnterRoom(params: EnterRoomParams): Success;
/** Leaves the room; `callback` is called once, later, with the SDK's result. */
export function KOVAEngineExitRoom(callback: (result: number) => void): Success;
/** `callback` is called once, later, with the cameras. */
export function KOVAEngineGetCameraDevicesList(callback: (devices: CaptureSource[]) => void): Success;
export function KOVAEngineSetCurrentCameraDevice(index: number): Success;
export function KOVAEngineChangeCameraByIndex(index: number): Success;
export function KOVAEngineChangeCameraByUID(uid: string): Success;
/** The number when given, else 0. */
export function KOVAEngineStartLocalAudio(value?: number): Success;
export function KOVAEngineStopLocalAudio(): Success;
/** The number when given, else 0. */
export function KOVAEngineStartLocalScreenAudio(value?: number): Success;
export function KOVAEngineStopLocalScreenAudio(): Success;
export function KOVAEngineStartRemoteAudio(userId: number, streamId: string): Success;
export function KOVAEngineStartRemoteAudioV2(userId: string, streamId: string): Success;
export function KOVAEngineStopRemoteAudio(userId: number, streamId: string): Success;
export function KOVAEngineStopRemoteAudioV2(userId: string, streamId: string): Success;
export function KOVAEngineMuteLocalAudio(mute: boolean): Success;
export function KOVAEngineMuteRemoteAudio(userId: number, streamId: string, mute: boolean): Success;
export function KOVAEngineMuteRemoteAudioV2(userId: string, streamId: string, mute: boolean): Success;
/** Accepted; the SDK is not called. */
export function KOVAEngineMuteRemoteAllAudio(mute: boolean): Success;
/** Starts the camera preview; frames arrive at params.streamCB under the key "local". */
export function KOVAEngineStartLocalPreview(params: LocalPreviewParams): Success;
/** Frames still waiting are dropped; the stream ends once the preview test has stopped too. */
export function KOVAEngineStopLocalPreview(): Success;
export function KOVAEngineSetVideoEncodingParam(a: number, b: number): Success;
export function KOVAEngineMuteLocalVideo(mute: boolean): Success;
/** Starts a remote camera view; frames arrive at params.streamCB under params.streamId. */
export function KOVAEngineStartRemoteView(params: RemoteViewParams): Success;
/** Frames of the stream still waiting are dropped. */
export function KOVAEngineStopRemoteView(userId: number, streamId: string): Success;
export function KOVAEngineStopRemoteViewV2(userId: string, streamId: string): Success;
export function KOVAEngineChangeVideoStream(userId: number, streamId: string, model: number, bitrate: number): Success;
export function KOVAEngineChangeVideoStreamV2(userId: string, streamId: string, model: number, bitrate: number): Success;
export function KOVAEngineMuteRemoteVideo(userId: number, streamId: string, mute: boolean): Success;
export function KOVAEngineMuteRemoteVideoV2(userId: string, streamId: string, mute: boolean): Success;
/** Accepted; the SDK is not called. */
export function KOVAEngineMuteAllRemoteVideo(mute: boolean): Success;
/** `callback` is called once, later, with the screens. */
export function KOVAEngineGetScreenCaptureSources(callback: (sources: CaptureSource[]) => void): Success;
/** `callback` is called once, later, with the windows. */
export function KOVAEngineGetWindowCaptureSources(callback: (sources: CaptureSource[]) => void): Success;
export function KOVAEngineStartDesktopCaptureShare(params: DesktopPreviewParams): Success;
export function KOVAEngineStopDesktopCaptureShare(params: DesktopPreviewParams): Success;
/** Starts a remote desktop view; frames arrive at params.streamCB under params.streamId. */
export function KOVAEngineStartRemoteDesktopView(params: RemoteViewParams): Success;
export function KOVAEngineStopRemoteDesktopView(userId: number, streamId: string): Success;
export function KOVAEngineStopRemoteDesktopViewV2(userId: string, streamId: string): Success;
/** Starts a local capture preview; frames arrive at params.streamCB under captureInfo.uniqueId. */
export function KOVAEngineStartDesktopCapturePreview(params: DesktopPreviewParams): Success;
/** Stops the listed previews; finishCallback is called once, later. */
export function KOVAEngineStopDesktopCapturePreview(params: DesktopPreviewStopParams): Success;
/** Index 0 to 65535. */
export function KOVAEngineSetPlayoutDevice(index: number): Success;
/** Index 0 to 65535. */
export function KOVAEngineSetRecordingDevice(index: number): Success;
/** 0 to 65535. */
export function KOVAEngineSetSpeakerVolume(volume: number): Success;
/** 0 to 65535. */
export function KOVAEngineSetMicrophoneVolume(volume: number): Success;
/** `callback` is called once, later, with the speakers. */
export function KOVAEngineGetPlayoutSources(callback: (devices: AudioDevice[]) => void): Success;
/** `callback` is called once, later, with the microphones. */
export function KOVAEngineGetRecordingSources(callback: (devices: AudioDevice[]) => void): Success;
export function KOVAEngineSendChatMessage(message: ChatMessage): Success;
/** Accepted; the SDK is not called. */
export function KOVAEngineInitBroadCast(a: number, b: number, auth: AuthInfo): Success;
export function KOVAEngineChangeNickName(a: number, b: number, nickName: string): Success;
export function KOVAEngineChangeNickNameV2(userId: string, nickName: string): Success;
export function KOVAEngineSendControlMessage(userId: number, type: number, content: ControlContent): Success;
export function KOVAEngineSendControlMessageV2(userId: string, type: number, content: ControlContent): Success;
/** Accepted; the SDK is not called. */
export function KOVAEngineEnableStreamStat(enable: number, b: number): Success;
/** The SDK makes a token from the inputs; params.callback receives it before this returns. */
export function KOVAEngineGeneralToken(params: TokenParams): Success;
export function KOVAEngineInstallAudioDrive(): Success;
/** 1 or 0 (a number, not a boolean); 0 without an SDK. */
export function KOVAEngineHasMacVirtualDevice(): 0 | 1;
/** Creates the engine when needed. */
export function KOVAEngineSetDebugLogEnable(enable: boolean): Success;
/** Creates the engine when needed. A function receives every debug-log line, later; the first function registered stays the one called. null stops the lines. */
export function KOVAEngineSetDebugLogCallback(callback: ((level: number, text: string) => void) | null): Success;
export function KOVAEngineSubscribeDataStream(name: string): Success;
export function KOVAEngineUnsubscribeDataStream(name: string): Success;
/** Creates the engine when needed. A missing argument throws; a wrong type is returned as "param type error". */
export function KOVAEngineSetApiUrl(url: string): Success | 'param type error';
/** Progress and end arrive as onUploadRtcLogsProgress and onUploadRtcLogsFinish. */
export function KOVAEngineStartUploadRtcLogs(text: string, value: number): Success;
export function KOVAEngineSetAppName(name: string): Success;
/** The SDK's number; 0 without an SDK. */
export function KOVAEngineGetSystemSleepState(): number;
/** Up to 511 bytes. */
export function KOVAEngineSetSDKConfigParam(text: string): Success;
/** `callback` is called once, later, with the statistics text. */
export function KOVAEngineGetSDKStats(callback: (stats: string) => void): Success;
/** The window id (64-bit integer as a number); 0 without an SDK. */
export function KOVAEngineFindWindowIdByTitle(title: string): number;
/** As KOVAEngineStartLocalPreview, for the camera test; shares the key "local" with the preview. */
export function KOVAEngineStartLocalPreviewTest(params: LocalPreviewParams): Success;
export function KOVAEngineStopLocalPreviewTest(): Success;
/** `callback` receives the levels, later and repeatedly, until KOVAEngineStopRecordingTest; a new test replaces the callback. Not a function: returns "param type error". Text up to 1023 bytes. */
export function KOVAEngineStartRecordingTest(callback: (level: number) => void, text?: string): Success | 'param type error';
export function KOVAEngineStopRecordingTest(): Success;
/** `callback` receives two numbers, later and repeatedly, until KOVAEngineStopPlayoutTest; a new test replaces the callback. Not a function: returns "param type error". Text up to 1023 bytes. */
export function KOVAEngineStartPlayoutTest(text: string | null | undefined, callback: (a: number, b: number) => void): Success | 'param type error';
export function KOVAEngineStopPlayoutTest(): Success;
export function KOVAEngineSubscribeMillionAudio(): Success;
export function KOVAEngineUnSubscribeMillionAudio(): Success;
/** A missing or wrong argument is returned as "param type error". */
export function KOVAEngineSetLocalVideoMirror(mirror: boolean): Success | 'param type error';
/** Writes a line into the SDK's log (up to 10239 bytes). A missing or wrong argument is returned as "param type error". */
export function KOVAEnginePrintLog(text: string): Success | 'param type error';
/** The SDK's number; 0 without an SDK. */
export function KOVAEngineGetSpeakerVolume(): number;
/** The SDK's number; 0 without an SDK. */
export function KOVAEngineGetMicrophoneVolume(): number;
/** `callback` receives 0 before this returns. */
export function SAIManagerCheckOpenGL(n: number, text: string, callback: (code: SAIResultCode) => void): Success;
/** Loads the AI-effects library (three directories above the addon) and initialises it; `callback` receives one code, at once or later. */
export function SAIManagerInit(n: number, data: string, text: string, callback: (code: SAIResultCode) => void): Success;
/** As SAIManagerInit, with an app id. */
export function SAIManagerInitByAppId(n: number, appId: string, callback: (code: SAIResultCode) => void): Success;
/** Enables an effect on the local camera frames; `callback` receives one code, at once or later. */
export function SAIManagerEnableFeature(n: number, text: string, callback: (code: SAIResultCode) => void): Success;
export function SAIManagerDisableFeature(): Success;
export function SAIManagerUnInit(): Success;
/** Registers the controller's message and status functions (called later, repeatedly; status 100 connected, 102 not connected). Returns the library's result, -1 unless both are functions, -100 without the controller library. Creates the engine when needed. */
export function CTR_SetClientCallBack(onMessage: (message: string) => void, onStatus: (status: number) => void): number;
/** Connects to the controller server (port cut to 16 bits). Returns the library's result, -1 with fewer than two arguments, -100 without the library. */
export function CTR_CreateClient(ip: string, port: number): number;
/** Sends up to 4095 bytes. Returns the library's result, -1 without an argument, -100 without the library. */
export function CTR_SendDataToServer(data: string): number;
/** Returns the library's result, -100 without the library. */
export function CTR_StopClient(): number;
export function KOVAEngineSetAudioAINoiseExEnable(enable: boolean): Success;
export function KOVAEngineSetCameraDeviceByUID(uid: string): Success;
export function KOVAEngineSetPlayoutDeviceByUID(uid: string): Success;
export function KOVAEngineSetRecordingDeviceByUID(uid: string): Success;
/** A function receives every state change, later. Anything else (null) unregisters it and returns "param type error"; no argument returns "param count error". */
export function KOVAEngineSetExternalDeviceStateCallback(callback: ((state: boolean) => void) | null): Success | ArgumentError;
/** Returns "" on success; argument errors are returned, not thrown. */
export function KOVAEngineSetSDKConfigPath(path: string): '' | ArgumentError;
/** Up to 2047 bytes. Returns "" on success; argument errors are returned, not thrown. */
export function KOVAEngineSetSDKConfigString(text: string): '' | ArgumentError;
/** Reports an event to the SDK (text up to 10239 bytes). */
export function KOVAEngineReportEventError(code: number, text: string): Success;
/** The SDK's device id; "" without an SDK. */
export function KOVAEngineGetDeviceID(): string;
