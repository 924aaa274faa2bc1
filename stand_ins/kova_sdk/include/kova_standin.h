// Test control surface of the stand-in SDK library (libkova_sdk.so built from stand_ins/kova_sdk).
//
// The stand-in implements the SDK interface of kova-api-i.h, records every call in a journal and
// lets a test drive every callback the system consumes. The three functions below are exported by
// the stand-in itself, so a test that dlopen()s the same file as the addon reaches the same
// instance. All three may be called from any thread.
//
// Journal: one JSON object per call, {"op":"<Operation>","args":[...]} ("lib":"alt" is added by
// the alternative test build). `args` mirror the C parameters in order; a (pointer, length) string
// pair is one JSON string of exactly `length` bytes, each byte mapped to U+0000..U+00FF, followed by
// the length as a number. A null pointer records null; a negative or absurd (> 1 MiB) length records
// "" and the length as given. Records are objects with the header's field names; pointers of unknown
// meaning record null or "set"; std::function values record true (set) or false (empty); int64
// values beyond +-2^53 record as decimal strings.
//
// Commands (one JSON object with "cmd"; 0 on success, -1 on a malformed or unusable command).
// Commands that call back run the callbacks on a thread of the stand-in and, unless "wait": false,
// return after that thread has finished.
//   {"cmd":"set_result","op":"GetSpeakerVolume","value":42}     int, bool or int64 result of an op
//   {"cmd":"set_string_result","op":"GetDeviceID","value":"x"|null}
//   {"cmd":"set_token","token":"...","length":N}                 token written by GenerateToken
//   {"cmd":"listener","version":1|2,"event":"onError","args":[5,"x"]}
//       args in C order; a string is a JSON string (its UTF-8 bytes), {"s":"text","len":N} (N
//       overrides the length; "s":null passes a null pointer) or {"bytes":[...],"len":N};
//       onEnterRoom takes "users":[{"nickName","userId","userIdStr"}] with optional "count" and
//       "null":true; OnDataStreamMessage takes [streamId, bytes, binary] with optional "size".
//   {"cmd":"exit_room_result","value":0}
//   {"cmd":"camera_devices"|"screen_sources"|"window_sources",
//    "list":[{"id":1,"uniqueId":"u","name":"n"}],"count":N,"null":true}
//   {"cmd":"playout_sources"|"recording_sources","list":[{"id":1,"name":"n","uniqueId":"u"}],...}
//   {"cmd":"debug_log","level":2,"text":".."}   {"cmd":"sdk_stats","text":".."}
//   {"cmd":"recording_level","value":N}          {"cmd":"playout_level","values":[a,b]}
//   {"cmd":"external_device_state","value":true} {"cmd":"desktop_preview_finish","value":0}
//       each calls the latest stored callback of its kind once ("times":n repeats).
//   {"cmd":"frames","key":"local","count":10,"width":640,"height":480,"strides":[640,320,320],
//    "rotation":0,"via":"frame"|"capture","nullPlanes":["U"],"interval_ms":0,"first":0,
//    "keyOverride":"other"}
//       "fill":false fills the planes for the first frame only and then changes only the frame
//       number; "stamp":true puts CLOCK_MONOTONIC nanoseconds (uint64 LE) into Y bytes 8..15
//       right before each callback. "bare_copy":true calls nothing: the stand-in copies the
//       planes into fresh allocations and frees them, the yardstick of the frame benchmarks.
//       "timed":true sums the time spent in the callbacks (or bare copies) of the push;
//   {"cmd":"push_time"}                          returns that sum of the last timed push, in us
//   {"cmd":"frames_all",...}                     the same for every started stream
//   {"cmd":"live","on":true,"fps":15}            live mode (also env KOVA_STANDIN_LIVE=1)
//   {"cmd":"journal","on":false}                 stops (or resumes) journaling of SDK calls
//   {"cmd":"crash_in","op":"StopRemoteView"}     that operation dies with SIGSEGV ("" for none)
//   {"cmd":"reset"}                              clears journal, stored callbacks and results and
//                                                turns journaling back on
//
// Raw variants, for sweeps of SDK misbehaviour (what a well-behaved SDK never does):
//   "raw": true on a "listener" command: a null string ({"s":null}) may come with any length, and
//       OnDataStreamMessage's "size" may be any 64-bit value (a negative one arrives as a huge
//       unsigned size; sizes above 16 MiB are not backed by bytes), and onEnterRoom's "count" may
//       be anything with "null": true;
//   "raw": true on a list producer: with "null": true any "count"; with a list, a "count" up to
//       65536 beyond the entries, padded with zeroed records (null texts of length 0);
//   "nullKey": true on "frames": the StreamInfo's key pointer is null;
//   {"cmd":"retain_callbacks","on":true}          DestroyKOVAWinClient keeps the stored callbacks and
//       streams (listeners are still dropped), so producers and frames can be fired after it.
//
// Frames of the "frames" commands are filled deterministically. For frame number n (counted from
// "first", default 0, within one command):
//   Y plane: byte at (row, col) = (n + row + col) & 0xFF for every row < height and col < strideY,
//            except that bytes 0..3 of the plane hold n as a little-endian uint32;
//   U plane: every byte 0x40 + (n & 0x3F);   V plane: every byte 0xC0 - (n & 0x3F).
// Plane sizes follow StreamInfo: Y height*strideY, U height*strideU/2, V height*strideV/2.
// The StreamInfo key is the zero-terminated stream key with its length; timestamp = n.
//
// Environment: KOVA_STANDIN_JOURNAL_FILE (append each entry as one line to that file),
// KOVA_STANDIN_LOGUPLOAD_RESULT (startKovaLogUpload's result), KOVA_STANDIN_CRASH_IN=<op> (that
// operation dies with SIGSEGV; read when the library loads), KOVA_STANDIN_LIVE=1 (live mode from the
// start).
#ifndef KOVA_STANDIN_H
#define KOVA_STANDIN_H

#ifdef __cplusplus
extern "C" {
#endif

// JSON array of every entry since the last clear; valid until the calling thread's next call.
const char* kova_standin_journal(void);
void kova_standin_journal_clear(void);
int kova_standin_command(const char* json);

typedef const char* (*PFN_kova_standin_journal)(void);
typedef void (*PFN_kova_standin_journal_clear)(void);
typedef int (*PFN_kova_standin_command)(const char*);

#ifdef __cplusplus
}
#endif

#endif  // KOVA_STANDIN_H
