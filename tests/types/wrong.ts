// Calls that must not compile: each line after @ts-expect-error has a wrong argument, so the check
// fails ("Unused '@ts-expect-error' directive") as soon as the declarations accept one of them.
import * as kova from '../..';
import type { ApiListener, ApiListenerV2, VideoFrame } from '../..';

// @ts-expect-error a string where the user id is a number
kova.KOVAEngineMuteRemoteAudio('5', 's', true);
// @ts-expect-error the third argument is missing
kova.KOVAEngineMuteRemoteAudio(5, 's');
// @ts-expect-error a number where the mute flag is a boolean
kova.KOVAEngineMuteRemoteAudio(5, 's', 1);
// @ts-expect-error the V2 function takes a string user id
kova.KOVAEngineMuteRemoteAudioV2(5, 's', true);
// @ts-expect-error no argument
kova.KOVAEngineStopRemoteView();
// @ts-expect-error the stream id is missing
kova.KOVAEngineStopRemoteView(5);
// @ts-expect-error no argument
kova.KOVAEngineSetEnv();
// @ts-expect-error a string for a number
kova.KOVAEngineSetEnv('1');
// @ts-expect-error a number for a string
kova.KOVAEngineSetSDKConfigPath(1);
// @ts-expect-error the result is text, not a number
const configResult: number = kova.KOVAEngineSetSDKConfigPath('p');
// @ts-expect-error the query returns a number, not a boolean
const virtualDevice: boolean = kova.KOVAEngineHasMacVirtualDevice();
// @ts-expect-error the CTR_ functions return numbers
const ctrResult: string = kova.CTR_StopClient();
// @ts-expect-error a number for the string address
kova.CTR_CreateClient(1, 9000);
// @ts-expect-error the status callback receives a number
kova.CTR_SetClientCallBack((message: string) => void message, (status: string) => void status);
// @ts-expect-error a listener must be an object or null
kova.KOVAEngineSetApiListener(undefined);
// @ts-expect-error a misspelled event name is not an event
kova.KOVAEngineSetApiListener({ onerror: () => undefined });
// @ts-expect-error the event name is spelled onSubscribeDataStreamSuccess
kova.KOVAEngineSetApiListener({ onSubscrbeDataStreamSuccess: () => undefined });
// @ts-expect-error version 1 reports user ids as numbers
const v1: ApiListener = { onUserVideoAvailable: (userId: string) => void userId };
// @ts-expect-error version 2 reports user ids as strings
const v2: ApiListenerV2 = { onUserVideoAvailable: (userId: number) => void userId };
// @ts-expect-error onEnterRoom receives an array of users
const v3: ApiListener = { onEnterRoom: (users: string) => void users };
// @ts-expect-error a binary data-stream message is an ArrayBuffer, never a number
const v4: ApiListener = { onDataStreamMessage: (name: string, binary: boolean, message: number) => void [name, binary, message] };
// @ts-expect-error the room type is needed
kova.KOVAEngineEnterRoom({ sdkVersion: '1', nickName: 'n', token: 't', appId: 'a', userId: 'u', nonce: 'n', timestamp: 0, deviceId: 'd', deviceName: 'n', deviceType: 't', deviceMode: 'm', deviceVersion: 'v' });
kova.KOVAEngineEnterRoom({
  roomType: 1, sdkVersion: '1', nickName: 'n', token: 't', appId: 'a', userId: 'u', nonce: 'n', deviceId: 'd',
  deviceName: 'n', deviceType: 't', deviceMode: 'm', deviceVersion: 'v',
  // @ts-expect-error the timestamp is a number
  timestamp: '1700000000000',
});
// @ts-expect-error a remote view needs its stream id and frame callback
kova.KOVAEngineStartRemoteView({ userId: 1, width: 640, height: 360, streamSubscribeModelType: 1, streamBitrateType: 0 });
kova.KOVAEngineStartRemoteView({
  // @ts-expect-error the user id is a number or a string
  userId: true,
  streamId: 's', width: 640, height: 360, streamSubscribeModelType: 1, streamBitrateType: 0, streamCB: () => undefined,
});
// @ts-expect-error a frame callback receives a frame object
kova.KOVAEngineStartLocalPreview({ width: 640, height: 480, streamCB: (frame: string) => void frame });
// @ts-expect-error the excluded window ids are numbers
kova.KOVAEngineStartDesktopCaptureShare({ excludedWindowIds: ['5'] });
// @ts-expect-error the stop object needs its finish callback
kova.KOVAEngineStopDesktopCapturePreview({ desktopPreviewSize: 1, desktopPreviewArray: [] });
// @ts-expect-error the control content needs its extra data
kova.KOVAEngineSendControlMessage(1, 2, { event: 'e' });
// @ts-expect-error the chat message needs the numeric user id
kova.KOVAEngineSendChatMessage({ userId: 'u', message: 'm' });
// @ts-expect-error the token inputs need their callback
kova.KOVAEngineGeneralToken({ meetingId: 'm', userId: 'u', timestamp: 0, appKey: 'k', appId: 'a' });
// @ts-expect-error the broadcast login's peer id is a number
kova.KOVAEngineInitBroadCast(1, 2, { peerId: '1', sdkVersion: '1', nickName: 'n', token: 't', appId: 'a', userId: 'u', nonce: 'n', timestamp: 0 });
// @ts-expect-error the device list holds capture-source objects, not strings
kova.KOVAEngineGetCameraDevicesList((devices: string[]) => void devices);
// @ts-expect-error the playout test takes the text first, then the callback
kova.KOVAEngineStartPlayoutTest((a: number, b: number) => void [a, b], 'tone');
// @ts-expect-error the SAIManager callbacks receive a number code
kova.SAIManagerInit(0, 'data', 'text', (code: string) => void code);
// @ts-expect-error frame planes are byte arrays
const plane: number[] | undefined = ({} as VideoFrame).streamY;
// @ts-expect-error the frame has no "data" property
const data = ({} as VideoFrame).data;
// @ts-expect-error the package exports no such function
kova.KOVAEngineStartScreenShare();

void [configResult, virtualDevice, ctrResult, v1, v2, v3, v4, plane, data];
