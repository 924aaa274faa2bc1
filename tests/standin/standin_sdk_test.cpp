// The stand-in SDK in its addon form, loaded with dlopen and driven through the client interface
// and the control functions, as the addon and its tests use it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "RecordingListener.h"
#include "StandinLibrary.h"

namespace standin_test {
namespace {

using Api = solvane::kovawin::IKOV_API;
using StreamInfo = Api::StreamInfo;

// One delivered frame, copied out of the callback.
struct Frame {
    std::string key;
    int keyLength = 0;
    bool keyTerminated = false;
    int width = 0, height = 0, rotation = 0, strideY = 0, strideU = 0, strideV = 0;
    int64_t timestamp = 0;
    bool nullY = false, nullU = false, nullV = false;
    std::vector<uint8_t> y, u, v;
    std::thread::id thread;
};

class FrameSink {
public:
    std::function<void(StreamInfo&)> Callback() {
        return [this](StreamInfo& info) {
            Frame f;
            f.key.assign(info.streamKey, info.streamKeyLength);
            f.keyLength = info.streamKeyLength;
            f.keyTerminated = info.streamKey[info.streamKeyLength] == '\0';
            f.width = info.width;
            f.height = info.height;
            f.rotation = info.rotation;
            f.strideY = info.strideY;
            f.strideU = info.strideU;
            f.strideV = info.strideV;
            f.timestamp = info.timestamp;
            f.nullY = info.dataY == nullptr;
            f.nullU = info.dataU == nullptr;
            f.nullV = info.dataV == nullptr;
            // Frames may carry any sizes: a negative plane size counts as 0, as StreamInfo says.
            auto plane = [](const uint8_t* data, long long bytes) {
                return data != nullptr && bytes > 0 ? std::vector<uint8_t>(data, data + bytes) : std::vector<uint8_t>();
            };
            f.y = plane(info.dataY, 1LL * info.height * info.strideY);
            f.u = plane(info.dataU, 1LL * info.height * info.strideU / 2);
            f.v = plane(info.dataV, 1LL * info.height * info.strideV / 2);
            f.thread = std::this_thread::get_id();
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(std::move(f));
        };
    }
    std::vector<Frame> Frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

private:
    std::mutex mutex_;
    std::vector<Frame> frames_;
};

// Starts a remote view of `streamId` whose frames go to `sink`.
void StartView(Api* client, const char* streamId, FrameSink& sink) {
    Api::StartRemoteViewParam view{};
    view.streamId = streamId;
    view.streamIdLength = static_cast<int>(std::strlen(streamId));
    view.frameCallback = sink.Callback();
    client->StartRemoteView(view);
}

class StandinSdk : public ::testing::Test {
protected:
    static StandinLibrary& Library() {
        static StandinLibrary library(AddonSdkPath());
        return library;
    }
    void SetUp() override { StartClean(Library(), client); }
    void TearDown() override {
        Library().Command({{"cmd", "live"}, {"on", false}});
        Library().destroy();
    }
    int Command(const Json& cmd) { return Library().Command(cmd); }
    Json Journal() { return Library().Journal(); }
    Json ArgsOf(const std::string& op) { return Library().ArgsOf(op); }

    Api* client = nullptr;
};

TEST_F(StandinSdk, JournalMirrorsTheCParametersInOrder) {
    std::string zeroAndHigh("a\0b\xff", 4);
    Api::ControlContent content{const_cast<char*>("ev"), 2, const_cast<char*>("extra"), 5};
    struct Case {
        const char* op;
        std::function<void()> call;
        Json args;
    };
    const std::vector<Case> cases = {
        {"MuteRemoteAudio", [&] { client->MuteRemoteAudio(5, "s", 1, true); }, {5, "s", 1, true}},
        {"StopRemoteViewV2", [&] { client->StopRemoteViewV2(zeroAndHigh.data(), 4, nullptr, 3); },
         {std::string("a\0b\xc3\xbf", 5), 4, nullptr, 3}},
        {"SetSDKConfigParam", [&] { client->SetSDKConfigParam("abcdef", 3); }, {"abc", 3}},
        {"SetAppName", [&] { client->SetAppName("abc", -2); }, {"", -2}},
        {"SetApiUrl", [&] { client->SetApiUrl("x", 1 << 30); }, {"", 1 << 30}},
        {"SetPlayoutDevice", [&] { client->SetPlayoutDevice(65535); }, {65535}},
        {"PrintLog", [&] { client->PrintLog("line\xe2\x82\xac"); }, {"line\xc3\xa2\xc2\x82\xc2\xac"}},
        {"InstallAudioDrive", [&] { client->InstallAudioDrive("/p/a.pkg", nullptr); }, {"/p/a.pkg", nullptr}},
        {"ChangeVideoStream",
         [&] { client->ChangeVideoStream(3, "st", 2, Api::VideoStreamSubscribeModelType(1), Api::VideoStreamBitrateType(2)); },
         {3, "st", 2, 1, 2}},
        {"SendControlMessage", [&] { client->SendControlMessage(7, Api::ControlType(2), nullptr); }, {7, 2, nullptr}},
        {"SendControlMessageV2", [&] { client->SendControlMessageV2("u", 1, Api::ControlType(1), &content); },
         {"u", 1, 1, {{"event", "ev"}, {"eventLength", 2}, {"extraData", "extra"}, {"extraDataLength", 5}}}},
        {"StartRecordingTest", [&] { client->StartRecordingTest([](int) {}, "t", 1); }, {true, "t", 1}},
        {"SetDebugLogCallback", [&] { client->SetDebugLogCallback(nullptr); }, {false}},
        {"SetApiListenerV2", [&] { client->SetApiListenerV2(nullptr); }, {nullptr}},
        {"Reserved54", [&] { client->Reserved54(); }, Json::array()},
    };
    for (const Case& c : cases) {
        Library().clear();
        c.call();
        const Json journal = Journal();
        ASSERT_EQ(journal.size(), 1u) << c.op;
        EXPECT_EQ(journal[0]["op"], c.op);
        EXPECT_EQ(journal[0]["args"], c.args) << c.op;
        EXPECT_FALSE(journal[0].contains("lib"));
    }
}

TEST_F(StandinSdk, RecordsAreObjectsWithTheHeaderFieldNames) {
    Api::StartLocalPreviewParam preview{};
    preview.width = 640;
    preview.height = 480;
    preview.isMultiRate = true;
    preview.isMirror = true;
    preview.frameCallback = [](StreamInfo&) {};
    client->StartLocalPreview(preview);
    Json args = ArgsOf("StartLocalPreview");
    EXPECT_EQ(args[0]["width"], 640);
    EXPECT_EQ(args[0]["context"], nullptr);
    EXPECT_EQ(args[0]["frameCallback"], true);
    EXPECT_EQ(args[0]["captureCallback"], false);
    EXPECT_EQ(args[0]["isMirror"], true);

    Api::EnterRoomParam room{};
    room.roomId = -1;
    room.token = "tk";
    room.tokenLength = 2;
    room.timestamp = int64_t{1} << 60;
    client->EnterRoom(room);
    args = ArgsOf("EnterRoom");
    EXPECT_EQ(args[0]["roomId"], -1);
    EXPECT_EQ(args[0]["userRoomId"], nullptr);
    EXPECT_EQ(args[0]["token"], "tk");
    EXPECT_EQ(args[0]["tokenLength"], 2);
    EXPECT_EQ(args[0]["timestamp"], "1152921504606846976");

    // The array form: capture strings without a terminating zero, a record without capture info.
    const char uniqueId[2] = {'u', '1'};
    Api::CaptureInfo info{};
    info.id = 9;
    info.uniqueId = uniqueId;
    info.uniqueIdLength = 2;
    int64_t excluded[2] = {5, 7};
    Api::DesktopPreview previews[2] = {};
    previews[0].captureInfo = &info;
    previews[0].excludedWindowIds = excluded;
    previews[0].excludedWindowCount = 2;
    client->StopDesktopCapturePreview(previews, 2, [](int) {});
    args = ArgsOf("StopDesktopCapturePreview");
    EXPECT_EQ(args[0][0]["captureInfo"], Json({{"id", 9}, {"reserved", 0}, {"uniqueId", "u1"}, {"uniqueIdLength", 2},
                                              {"name", nullptr}, {"nameLength", 0}}));
    EXPECT_EQ(args[0][0]["excludedWindowIds"], Json({5, 7}));
    EXPECT_EQ(args[0][1]["captureInfo"], nullptr);
    EXPECT_EQ(args[0][1]["excludedWindowIds"], nullptr);
    EXPECT_EQ(args[1], 2);
    EXPECT_EQ(args[2], true);

    Api::ChatMessage chat{};
    chat.userId = 4;
    chat.message = "hello";
    chat.messageLength = 5;
    client->SendChatMessage(chat);
    args = ArgsOf("SendChatMessage");
    EXPECT_EQ(args[0]["userIdStr"], nullptr);
    EXPECT_EQ(args[0]["message"], "hello");
    EXPECT_EQ(args[0]["sentCallback"], false);
}

TEST_F(StandinSdk, GenerateTokenWritesAtMost256BytesAndTheConfiguredLength) {
    char appId[] = "app", appKey[] = "k", meeting[] = "m1", user[] = "u1", key[] = "AK-key";
    std::vector<char> out(400, '#');
    int length = 0;
    client->GenerateToken(appId, appKey, meeting, user, key, 1700000000000LL, out.data(), &length);
    EXPECT_EQ(std::string(out.data(), length), "tok:app:m1:u1:1700000000000");
    EXPECT_EQ(ArgsOf("GenerateToken"), Json({"app", "k", "m1", "u1", "AK-key", 1700000000000LL, "set", "set"}));

    const std::string longToken(300, 'x');
    for (const Json& cmd : {Json{{"cmd", "set_token"}, {"token", longToken}},
                            Json{{"cmd", "set_token"}, {"token", longToken}, {"length", -5}}}) {
        ASSERT_EQ(Command(cmd), 0);
        std::fill(out.begin(), out.end(), '#');
        client->GenerateToken(appId, appKey, meeting, user, key, 1, out.data(), &length);
        EXPECT_EQ(length, cmd.contains("length") ? -5 : 300);
        EXPECT_EQ(std::string(out.data(), 256), longToken.substr(0, 256));
        EXPECT_EQ(out[256], '#') << "wrote past 256 bytes";
    }
}

TEST_F(StandinSdk, ResultsAreConfigurablePerOperation) {
    EXPECT_EQ(client->GetSpeakerVolume(), 0);
    EXPECT_STREQ(client->GetDeviceID(), "standin-device-0001");
    ASSERT_EQ(Command({{"cmd", "set_result"}, {"op", "GetSpeakerVolume"}, {"value", 42}}), 0);
    ASSERT_EQ(Command({{"cmd", "set_result"}, {"op", "HasMacVirtualDevice"}, {"value", true}}), 0);
    ASSERT_EQ(Command({{"cmd", "set_result"}, {"op", "FindWindowIdByTitle"}, {"value", int64_t{1} << 40}}), 0);
    ASSERT_EQ(Command({{"cmd", "set_result"}, {"op", "MuteLocalAudio"}, {"value", -3}}), 0);
    EXPECT_EQ(client->GetSpeakerVolume(), 42);
    EXPECT_TRUE(client->HasMacVirtualDevice());
    EXPECT_EQ(client->FindWindowIdByTitle("t", 1), int64_t{1} << 40);
    EXPECT_EQ(client->MuteLocalAudio(true), -3);
    ASSERT_EQ(Command({{"cmd", "set_string_result"}, {"op", "GetDeviceID"}, {"value", "dev-x"}}), 0);
    EXPECT_STREQ(client->GetDeviceID(), "dev-x");
    ASSERT_EQ(Command({{"cmd", "set_string_result"}, {"op", "GetDeviceID"}, {"value", nullptr}}), 0);
    EXPECT_EQ(client->GetDeviceID(), nullptr);

    ASSERT_EQ(Command({{"cmd", "reset"}}), 0);
    EXPECT_EQ(client->GetSpeakerVolume(), 0);
    EXPECT_FALSE(client->HasMacVirtualDevice());
    EXPECT_STREQ(client->GetDeviceID(), "standin-device-0001");
}

TEST_F(StandinSdk, ListenerEventsArriveOnAnSdkThreadWithTheirArguments) {
    RecordingListenerV1 v1;
    RecordingListenerV2 v2;
    client->SetApiListener(&v1);
    client->SetApiListenerV2(&v2);

    auto fire = [&](int version, const char* event, Json args, Json extra = Json::object()) {
        Json cmd = {{"cmd", "listener"}, {"version", version}, {"event", event}, {"args", std::move(args)}};
        cmd.update(extra);
        return Command(cmd);
    };
    ASSERT_EQ(fire(1, "onError", {5, "x"}), 0);
    ASSERT_EQ(fire(1, "onErrorV2", {1, {{"s", "abcdef"}, {"len", 3}}, {{"s", nullptr}, {"len", 3}}}), 0);
    ASSERT_EQ(fire(1, "onStat", {{{"bytes", {97, 0, 98}}}}), 0);
    ASSERT_EQ(fire(2, "onRemoteUserLeaveRoom", {"u1", 3}), 0);
    ASSERT_EQ(fire(2, "OnDataStreamMessage", {"s1", {0, 255, 7}, true}), 0);
    ASSERT_EQ(fire(1, "OnDataStreamMessage", {"s1", "hey", false}, {{"size", 2}}), 0);
    ASSERT_EQ(fire(2, "OnUploadRtcLogsProgress", {0.5}), 0);
    ASSERT_EQ(fire(2, "onEnterRoom", Json::array(),
                   {{"users", {{{"nickName", "alice"}, {"userId", 1}, {"userIdStr", "u-a"}}, {{"nickName", "bob"}, {"userId", 2}, {"userIdStr", "u-b"}}}}}),
              0);
    ASSERT_EQ(fire(1, "onEnterRoom", Json::array(), {{"null", true}, {"count", 0}}), 0);
    ASSERT_EQ(fire(1, "onConnected", Json::array(), {{"times", 3}}), 0);

    auto only = [](const EventLog& log, const char* name) {
        auto events = log.Named(name);
        EXPECT_EQ(events.size(), 1u) << name;
        return events.empty() ? Event() : events[0];
    };
    Event e = only(v1.log, "onError");
    EXPECT_EQ(e.ints, std::vector<long long>({5}));
    EXPECT_EQ(e.strings, std::vector<std::string>({"x"}));
    EXPECT_NE(e.thread, std::this_thread::get_id());
    e = only(v1.log, "onErrorV2");
    EXPECT_EQ(e.strings, std::vector<std::string>({"abc", "<null>"}));
    EXPECT_EQ(e.lengths, std::vector<int>({3, 3}));
    EXPECT_EQ(only(v1.log, "onStat").strings[0], std::string("a\0b", 3));
    e = only(v2.log, "onRemoteUserLeaveRoom");
    EXPECT_EQ(e.strings, std::vector<std::string>({"u1"}));
    EXPECT_EQ(e.ints, std::vector<long long>({3}));
    e = only(v2.log, "OnDataStreamMessage");
    EXPECT_EQ(e.strings[1], std::string("\0\xff\x07", 3));
    EXPECT_EQ(e.bools, std::vector<bool>({true}));
    EXPECT_EQ(only(v1.log, "OnDataStreamMessage").strings[1], "he");
    EXPECT_EQ(only(v2.log, "OnUploadRtcLogsProgress").floats, std::vector<float>({0.5f}));
    e = only(v2.log, "onEnterRoom");
    EXPECT_EQ(e.ints, std::vector<long long>({2, 1, 2}));
    EXPECT_EQ(e.strings, std::vector<std::string>({"alice", "u-a", "bob", "u-b"}));
    e = only(v1.log, "onEnterRoom");
    EXPECT_EQ(e.ints, std::vector<long long>({0}));
    EXPECT_EQ(e.bools, std::vector<bool>({true}));
    EXPECT_EQ(v1.log.Named("onConnected").size(), 3u);
    EXPECT_TRUE(v2.log.Named("onConnected").empty());

    // Events that cannot be delivered as asked.
    EXPECT_EQ(fire(1, "onNoSuchEvent", Json::array()), -1);
    EXPECT_EQ(fire(1, "onError", {"5", "x"}), -1);
    EXPECT_EQ(fire(1, "onError", {5}), -1);
    EXPECT_EQ(fire(1, "onError", {5, "x", 6}), -1);
    EXPECT_EQ(fire(3, "onError", {5, "x"}), -1);
    EXPECT_EQ(fire(2, "onEnterRoom", Json::array(), {{"users", {{{"nickName", "a"}}}}, {"count", 2}}), -1);
    client->SetApiListener(nullptr);
    EXPECT_EQ(fire(1, "onError", {5, "x"}), -1);
    EXPECT_EQ(v1.log.Named("onError").size(), 1u);
}

TEST_F(StandinSdk, ReplacingAListenerWaitsForItsCallbackInFlight) {
    RecordingListenerV1 listener;
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    listener.log.SetHook([&](const Event&) {
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
    });
    client->SetApiListener(&listener);
    ASSERT_EQ(Command({{"cmd", "listener"}, {"version", 1}, {"event", "onConnected"}, {"wait", false}}), 0);
    for (int i = 0; i < 1000 && !entered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(entered);
    client->SetApiListener(nullptr);
    EXPECT_TRUE(finished) << "detached while a callback still ran on the listener";
}

TEST_F(StandinSdk, FramesFollowTheDocumentedPattern) {
    FrameSink sink;
    StartView(client, "st-1", sink);

    ASSERT_EQ(Command({{"cmd", "frames"}, {"key", "st-1"}, {"count", 3}, {"first", 7}, {"width", 8}, {"height", 4},
                       {"strides", {10, 5, 5}}, {"rotation", 90}}),
              0);
    std::vector<Frame> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        const Frame& f = frames[i];
        const uint32_t n = 7 + i;
        EXPECT_EQ(f.key, "st-1");
        EXPECT_EQ(f.keyLength, 4);
        EXPECT_TRUE(f.keyTerminated);
        EXPECT_EQ(f.timestamp, n);
        EXPECT_EQ(f.width, 8);
        EXPECT_EQ(f.rotation, 90);
        EXPECT_NE(f.thread, std::this_thread::get_id());
        ASSERT_EQ(f.y.size(), 40u);
        ASSERT_EQ(f.u.size(), 10u);
        ASSERT_EQ(f.v.size(), 10u);
        uint32_t counter = 0;
        std::memcpy(&counter, f.y.data(), 4);   // little-endian machine
        EXPECT_EQ(counter, n);
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 10; ++col) {
                if (row == 0 && col < 4) continue;
                EXPECT_EQ(f.y[row * 10 + col], static_cast<uint8_t>(n + row + col)) << row << "," << col;
            }
        }
        EXPECT_EQ(f.u, std::vector<uint8_t>(10, static_cast<uint8_t>(0x40 + (n & 0x3F))));
        EXPECT_EQ(f.v, std::vector<uint8_t>(10, static_cast<uint8_t>(0xC0 - (n & 0x3F))));
    }

    ASSERT_EQ(Command({{"cmd", "frames"}, {"key", "st-1"}, {"width", 4}, {"height", 2}, {"nullPlanes", {"U"}}}), 0);
    ASSERT_EQ(Command({{"cmd", "frames"}, {"key", "st-1"}, {"keyOverride", "never-started"}, {"width", 4}, {"height", 2}}), 0);
    frames = sink.Frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(frames[3].nullU);
    EXPECT_FALSE(frames[3].nullY || frames[3].nullV);
    EXPECT_EQ(frames[4].key, "never-started");

    EXPECT_EQ(Command({{"cmd", "frames"}, {"key", "other"}}), -1);
    EXPECT_EQ(Command({{"cmd", "frames"}, {"key", "st-1"}, {"via", "capture"}}), -1);
    client->StopRemoteView(0, "st-1", 4);
    EXPECT_EQ(Command({{"cmd", "frames"}, {"key", "st-1"}}), -1);
}

TEST_F(StandinSdk, LocalStreamEndsWhenPreviewAndPreviewTestHaveStopped) {
    FrameSink preview, test, capture;
    Api::StartLocalPreviewParam param{};
    param.frameCallback = preview.Callback();
    param.captureCallback = capture.Callback();
    client->StartLocalPreview(param);
    param.frameCallback = test.Callback();
    param.captureCallback = nullptr;
    client->StartLocalPreviewTest(param);

    const Json small = {{"cmd", "frames"}, {"key", "local"}, {"width", 4}, {"height", 2}};
    Json viaCapture = small;
    viaCapture["via"] = "capture";
    EXPECT_EQ(Command(viaCapture), -1) << "the latest start handed no capture callback";
    client->SetLocalCameraCallback(capture.Callback());
    EXPECT_EQ(Command(viaCapture), 0);
    client->StopLocalPreview();
    EXPECT_EQ(Command(small), 0);
    client->StopLocalPreviewTest();
    EXPECT_EQ(Command(small), -1);
    EXPECT_EQ(Command(viaCapture), -1);

    EXPECT_TRUE(preview.Frames().empty());
    EXPECT_EQ(test.Frames().size(), 1u);
    ASSERT_EQ(capture.Frames().size(), 1u);
    EXPECT_EQ(capture.Frames()[0].key, "local");
}

TEST_F(StandinSdk, ResultProducersCallTheLatestCallbackOfTheirKind) {
    struct Device {
        int id;
        std::string a, b;
    };
    std::vector<std::vector<Device>> first, second, audio;
    std::vector<bool> nullLists;
    auto captureList = [&nullLists](std::vector<std::vector<Device>>& into) {
        return [&into, &nullLists](Api::CaptureInfo* list, int count) {
            std::vector<Device> devices;
            for (int i = 0; list != nullptr && i < count; ++i) {
                devices.push_back({list[i].id, std::string(list[i].uniqueId, list[i].uniqueIdLength),
                                   std::string(list[i].name, list[i].nameLength)});
            }
            nullLists.push_back(list == nullptr);
            into.push_back(devices);
        };
    };
    EXPECT_EQ(Command({{"cmd", "camera_devices"}, {"list", Json::array()}}), -1) << "nothing requested yet";
    client->GetCameraDevicesList(captureList(first));
    client->GetCameraDevicesList(captureList(second));
    const Json list = {{{"id", 1}, {"uniqueId", "cam-1"}, {"name", "Front"}}, {{"id", 2}, {"uniqueId", "cam-2"}, {"name", "Back"}}};
    ASSERT_EQ(Command({{"cmd", "camera_devices"}, {"list", list}}), 0);
    ASSERT_EQ(Command({{"cmd", "camera_devices"}, {"list", list}, {"null", true}, {"times", 2}}), 0);
    EXPECT_EQ(Command({{"cmd", "camera_devices"}, {"list", list}, {"count", 3}}), -1);
    EXPECT_TRUE(first.empty());
    ASSERT_EQ(second.size(), 3u);
    ASSERT_EQ(second[0].size(), 2u);
    EXPECT_EQ(second[0][1].id, 2);
    EXPECT_EQ(second[0][1].a, "cam-2");
    EXPECT_EQ(second[0][1].b, "Back");
    EXPECT_EQ(nullLists, std::vector<bool>({false, true, true}));

    client->GetPlayoutSources([&](Api::AdmInfo* devices, int count) {
        std::vector<Device> copied;
        for (int i = 0; i < count; ++i) {
            copied.push_back({devices[i].id, std::string(devices[i].name, devices[i].nameLength),
                              std::string(devices[i].uniqueId, devices[i].uniqueIdLength)});
        }
        audio.push_back(copied);
    });
    ASSERT_EQ(Command({{"cmd", "playout_sources"}, {"list", {{{"id", 3}, {"name", "Speakers"}, {"uniqueId", "spk"}}}}}), 0);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0][0].a, "Speakers");
    EXPECT_EQ(audio[0][0].b, "spk");

    std::vector<std::string> seen;
    client->SetDebugLogCallback([&](int level, char* text, int length) { seen.push_back(std::to_string(level) + ":" + std::string(text, length)); });
    client->GetSDKStats([&](char* text, int length) { seen.push_back("stats:" + std::string(text, length)); });
    client->ExitRoom([&](int result) { seen.push_back("exit:" + std::to_string(result)); });
    client->StartPlayoutTest("t", 1, [&](int a, int b) { seen.push_back("playout:" + std::to_string(a) + "," + std::to_string(b)); });
    client->SetExternalDeviceStateCallback([&](bool state) { seen.push_back(state ? "ext:1" : "ext:0"); });
    ASSERT_EQ(Command({{"cmd", "debug_log"}, {"level", 2}, {"text", "line"}}), 0);
    ASSERT_EQ(Command({{"cmd", "sdk_stats"}, {"text", "{}"}}), 0);
    ASSERT_EQ(Command({{"cmd", "exit_room_result"}, {"value", -7}}), 0);
    ASSERT_EQ(Command({{"cmd", "playout_level"}, {"values", {3, 4}}}), 0);
    ASSERT_EQ(Command({{"cmd", "external_device_state"}, {"value", true}}), 0);
    EXPECT_EQ(seen, std::vector<std::string>({"2:line", "stats:{}", "exit:-7", "playout:3,4", "ext:1"}));

    client->StopPlayoutTest();
    client->SetDebugLogCallback(nullptr);
    EXPECT_EQ(Command({{"cmd", "playout_level"}, {"values", {3, 4}}}), -1);
    EXPECT_EQ(Command({{"cmd", "debug_log"}, {"level", 2}, {"text", "line"}}), -1);
    EXPECT_EQ(Command({{"cmd", "recording_level"}, {"value", 1}}), -1);
    EXPECT_EQ(Command({{"cmd", "desktop_preview_finish"}, {"value", 0}}), -1);
}

TEST_F(StandinSdk, MalformedCommandsReturnMinusOne) {
    EXPECT_EQ(Library().command(nullptr), -1);
    for (const char* text : {"", "{", "[]", "42", "{\"cmd\":5}", "{\"cmd\":\"no_such\"}", "{\"nocmd\":1}",
                             "{\"cmd\":\"set_result\"}", "{\"cmd\":\"set_result\",\"op\":\"X\",\"value\":\"1\"}",
                             "{\"cmd\":\"set_string_result\",\"op\":\"GetSpeakerVolume\",\"value\":\"x\"}",
                             "{\"cmd\":\"set_token\",\"token\":5}", "{\"cmd\":\"live\",\"on\":1}",
                             "{\"cmd\":\"live\",\"on\":true,\"fps\":0}", "{\"cmd\":\"listener\",\"version\":\"1\"}",
                             "{\"cmd\":\"frames\",\"key\":\"local\",\"count\":-1}",
                             "{\"cmd\":\"frames\",\"key\":\"local\",\"strides\":[1,2]}",
                             "{\"cmd\":\"frames\",\"key\":\"local\",\"width\":100000,\"height\":100000}",
                             "{\"cmd\":\"frames_all\",\"via\":\"sideways\"}", "{\"cmd\":\"reset\"} trailing"}) {
        EXPECT_EQ(Library().command(text), -1) << text;
    }
}

// Every command with a stored callback to reach, then each member (and each element of "args") replaced
// by values of every JSON type, and every truncation of its text: 0 or -1, never a crash or a hang.
TEST_F(StandinSdk, CommandsWithAnyMemberValueOrTruncationNeverCrash) {
    RecordingListenerV1 v1;
    RecordingListenerV2 v2;
    client->SetApiListener(&v1);
    client->SetApiListenerV2(&v2);
    FrameSink sink;
    StartView(client, "k", sink);
    Api::StartLocalPreviewParam local{};
    local.frameCallback = sink.Callback();
    local.captureCallback = sink.Callback();
    client->StartLocalPreview(local);
    client->GetCameraDevicesList([](Api::CaptureInfo*, int) {});
    client->GetRecordingSources([](Api::AdmInfo*, int) {});
    client->SetDebugLogCallback([](int, char*, int) {});
    client->GetSDKStats([](char*, int) {});
    client->ExitRoom([](int) {});
    client->StartRecordingTest([](int) {}, "", 0);
    client->StartPlayoutTest("", 0, [](int, int) {});
    client->SetExternalDeviceStateCallback([](bool) {});
    client->StopDesktopCapturePreview(nullptr, 0, [](int) {});

    const std::vector<Json> commands = {
        {{"cmd", "set_result"}, {"op", "GetSpeakerVolume"}, {"value", 1}},
        {{"cmd", "set_string_result"}, {"op", "GetDeviceID"}, {"value", "d"}},
        {{"cmd", "set_token"}, {"token", "t"}, {"length", 1}},
        {{"cmd", "listener"}, {"version", 1}, {"event", "onCustomSignalToRoom"}, {"args", {1, "b", {{"s", "c"}, {"len", 1}}, "d"}}},
        {{"cmd", "listener"}, {"version", 2}, {"event", "OnDataStreamMessage"}, {"args", {"s", {1, 2}, true}}, {"size", 2}},
        {{"cmd", "listener"}, {"version", 2}, {"event", "onEnterRoom"}, {"users", {{{"nickName", "n"}, {"userId", 1}, {"userIdStr", "u"}}}}, {"count", 1}},
        {{"cmd", "exit_room_result"}, {"value", 0}, {"times", 1}},
        {{"cmd", "camera_devices"}, {"list", {{{"id", 1}, {"uniqueId", "u"}, {"name", "n"}}}}, {"count", 1}, {"null", false}},
        {{"cmd", "recording_sources"}, {"list", {{{"id", 1}, {"uniqueId", "u"}, {"name", "n"}}}}},
        {{"cmd", "debug_log"}, {"level", 2}, {"text", "x"}},
        {{"cmd", "sdk_stats"}, {"text", "x"}},
        {{"cmd", "recording_level"}, {"value", 3}},
        {{"cmd", "playout_level"}, {"values", {1, 2}}},
        {{"cmd", "external_device_state"}, {"value", true}},
        {{"cmd", "desktop_preview_finish"}, {"value", 0}},
        {{"cmd", "frames"}, {"key", "k"}, {"count", 1}, {"width", 4}, {"height", 2}, {"strides", {4, 2, 2}}, {"rotation", 0},
         {"via", "frame"}, {"nullPlanes", {"Y"}}, {"interval_ms", 0}, {"first", 1}},
        {{"cmd", "frames"}, {"key", "local"}, {"via", "capture"}, {"width", 2}, {"height", 2}},
        {{"cmd", "frames"}, {"key", "k"}, {"keyOverride", "z"}, {"width", 2}, {"height", 2}},
        {{"cmd", "frames_all"}, {"count", 1}, {"width", 2}, {"height", 2}},
    };
    const std::vector<Json> values = {nullptr, "s", -1, int64_t{1} << 31, 1e300, 0.5, Json::array(), Json::object(),
                                      true, Json{{"s", nullptr}, {"len", -7}}, Json::array({-1, 256})};
    auto expectHandled = [&](const std::string& text) {
        const int result = Library().command(text.c_str());
        EXPECT_TRUE(result == 0 || result == -1) << text;
    };
    for (const Json& command : commands) {
        ASSERT_EQ(Command(command), 0) << command.dump();
        const std::string text = command.dump();
        for (size_t n = 0; n < text.size(); ++n) expectHandled(text.substr(0, n));
        for (const auto& member : command.items()) {
            for (const Json& value : values) {
                Json changed = command;
                changed[member.key()] = value;
                expectHandled(changed.dump());
            }
        }
        for (size_t i = 0; command.contains("args") && i < command["args"].size(); ++i) {
            for (const Json& value : values) {
                Json changed = command;
                changed["args"][i] = value;
                expectHandled(changed.dump());
            }
        }
    }
}

TEST_F(StandinSdk, CreateReturnsOneClientUntilDestroyedAndDestroyForgetsCallbacks) {
    EXPECT_EQ(Library().create(), client);
    RecordingListenerV2 listener;
    client->SetApiListenerV2(&listener);
    client->SetDebugLogCallback([](int, char*, int) {});
    Library().destroy();
    EXPECT_EQ(Command({{"cmd", "listener"}, {"version", 2}, {"event", "onConnected"}}), -1);
    EXPECT_EQ(Command({{"cmd", "debug_log"}, {"level", 1}, {"text", "x"}}), -1);
    std::vector<std::string> ops;
    for (const Json& entry : Journal()) ops.push_back(entry["op"]);
    EXPECT_EQ(ops, std::vector<std::string>({"CreateKOVAWinClient", "SetApiListenerV2", "SetDebugLogCallback", "DestroyKOVAWinClient"}));
    client = Library().create();
    ASSERT_NE(client, nullptr);
}

TEST_F(StandinSdk, LiveModeReportsARoomAnswersRequestsAndSendsFrames) {
    RecordingListenerV1 v1;
    RecordingListenerV2 v2;
    client->SetApiListener(&v1);
    client->SetApiListenerV2(&v2);
    ASSERT_EQ(Command({{"cmd", "live"}, {"on", true}, {"fps", 30}}), 0);
    Api::EnterRoomParam room{};
    room.roomId = 77;
    client->EnterRoom(room);

    ASSERT_TRUE(v2.log.WaitFor("onStat", 1));
    ASSERT_TRUE(v1.log.WaitFor("onUserVideoAvailable", 2));
    Event users = v2.log.Named("onEnterRoom").at(0);
    EXPECT_EQ(users.strings, std::vector<std::string>({"alice", "u-alice", "bob", "u-bob"}));
    EXPECT_EQ(v1.log.Named("onEnterRoomSuccess").at(0).strings[0], "77");
    EXPECT_EQ(v1.log.Named("onUserVideoAvailable").at(0).ints, std::vector<long long>({1}));
    EXPECT_TRUE(Json::accept(v2.log.Named("onStat").at(0).strings[0]));

    FrameSink sink;
    StartView(client, "stream-u-alice", sink);
    std::atomic<int> cameras{-1};
    std::atomic<int> exitResult{-1};
    client->GetCameraDevicesList([&](Api::CaptureInfo*, int count) { cameras = count; });
    for (int i = 0; i < 1000 && (sink.Frames().size() < 2 || cameras < 0); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(sink.Frames().size(), 2u);
    EXPECT_EQ(sink.Frames()[0].width, 640);
    EXPECT_EQ(sink.Frames()[0].height, 360);
    EXPECT_EQ(sink.Frames()[0].key, "stream-u-alice");
    EXPECT_EQ(cameras, 2);
    client->ExitRoom([&](int result) { exitResult = result; });
    for (int i = 0; i < 1000 && exitResult < 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(exitResult, 0);

    // After destruction no callback runs any more.
    Library().destroy();
    const size_t frames = sink.Frames().size();
    const size_t events = v2.log.Events().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sink.Frames().size(), frames);
    EXPECT_EQ(v2.log.Events().size(), events);
}

// Re-runs this test binary as a child with KOVA_STANDIN_LIVE=1: the child's stand-in starts in live
// mode, sends frames to a view, and the child exits while they flow; the library's unload must stop
// its threads so that the process ends normally.
TEST(StandinProcess, LiveModeFromTheEnvironmentAndACleanExitWhileFramesFlow) {
    if (std::getenv("KOVA_STANDIN_TEST_CHILD") != nullptr) {
        StandinLibrary library(AddonSdkPath());
        if (library.handle == nullptr) _exit(10);
        Api* client = library.create();
        static FrameSink sink;
        StartView(client, "view-1", sink);
        for (int i = 0; i < 1000 && sink.Frames().size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::exit(sink.Frames().size() >= 3 ? 0 : 11);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("KOVA_STANDIN_TEST_CHILD", "1", 1);
        setenv("KOVA_STANDIN_LIVE", "1", 1);
        execl("/proc/self/exe", "standin_sdk_test", "--gtest_filter=StandinProcess.*", static_cast<char*>(nullptr));
        _exit(12);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 3000 && done == 0; ++i) {
        done = waitpid(child, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the child did not end within 30 s";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(StandinVariants, EachVariantLacksExactlyItsEntryPoint) {
    const char* entries[] = {"CreateKOVAWinClient", "DestroyKOVAWinClient", "EnableKOVASDKCrashDump"};
    struct Variant {
        const char* name;
        const char* missing;
    };
    for (const Variant& v : {Variant{"no_crashdump", "EnableKOVASDKCrashDump"}, Variant{"no_create", "CreateKOVAWinClient"},
                             Variant{"no_destroy", "DestroyKOVAWinClient"}, Variant{"alt", nullptr}}) {
        StandinLibrary library(VariantPath(v.name));
        ASSERT_NE(library.handle, nullptr) << v.name << ": " << library.error;
        for (const char* entry : entries) {
            EXPECT_EQ(library.Has(entry), v.missing == nullptr || std::strcmp(entry, v.missing) != 0) << v.name << " " << entry;
        }
        EXPECT_TRUE(library.Has("kova_standin_command")) << v.name;
    }
    StandinLibrary alt(VariantPath("alt"));
    alt.clear();
    alt.create();
    const Json journal = alt.Journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0]["lib"], "alt");
    alt.destroy();
}

}  // namespace
}  // namespace standin_test
