// The shared-memory IPC layer on Windows kernel objects, between real Windows processes: this
// program runs itself as the other process (roles below). Error and log lines are compared with the
// system error codes Windows gives.
#include <atomic>
#include <cstring>
#include <thread>

#include "WinTestSupport.h"
#include "channel.h"
#include "ipc_sync.h"
#include "shm.h"

using namespace wintest;
using ipc::shm::handle;

namespace {

constexpr std::uint32_t kMagic = 0xC0FFEEu;

std::int32_t ReadCounter(const std::string& condition) {
    handle h(("_cond_shm_" + condition).c_str(), 4);
    return h.valid() ? __atomic_load_n(static_cast<std::int32_t*>(h.get()), __ATOMIC_ACQUIRE) : -999;
}

// Byte i of a test message of `size` bytes with `seed`.
std::string Message(size_t size, unsigned seed) {
    std::string m(size, '\0');
    for (size_t i = 0; i < size; ++i) m[i] = static_cast<char>((i * 31 + seed * 7 + 1) & 0xff);
    return m;
}

const size_t kSizes[] = {1, 24, 64, 65, 1000, 4096, 70000};

}  // namespace

// Opens the segment args[0] asking for 16 bytes, checks the magic word, writes its own, then
// holds the segment until its input ends.
KOVA_WIN_ROLE("segment_peer") {
    handle theirs;
    if (!theirs.acquire(args.at(0).c_str(), 16, ipc::shm::SHM_CREATE_OR_OPEN)) return 1;
    Say("size " + std::to_string(theirs.size()));
    auto* words = static_cast<std::uint32_t*>(theirs.get());
    if (__atomic_load_n(&words[0], __ATOMIC_ACQUIRE) != kMagic) return 2;
    __atomic_store_n(&words[1], 0xBEEFu, __ATOMIC_RELEASE);
    Say("written");
    AwaitLine();
    return 0;
}

// Takes the mutex args[0] and ends without giving it back.
KOVA_WIN_ROLE("mutex_abandon") {
    ipc::named_mutex m;
    if (!m.open(args.at(0).c_str()) || !m.lock()) return 1;
    Say("locked");
    AwaitLine();
    return 0;  // the process ends while it owns the mutex
}

// Waits on the waiter args[0] while the word in segment args[1] is 0.
KOVA_WIN_ROLE("waiter") {
    ipc::waiter w;
    handle flag(args.at(1).c_str(), 4);
    if (!w.open(args.at(0).c_str()) || !flag.valid()) return 1;
    auto* word = static_cast<std::uint32_t*>(flag.get());
    bool announced = false;
    const bool ok = w.wait_while(
        [&] {
            // Runs with the waiter's lock held: once "waiting" is out, a broadcast can only come
            // after this process is inside its wait.
            if (!announced) Say("waiting");
            announced = true;
            return __atomic_load_n(word, __ATOMIC_ACQUIRE) == 0;
        },
        20000);
    Say(std::string("done ") + (ok ? "1" : "0"));
    return 0;
}

// Sends the messages of kSizes on channel args[0] once a receiver is there, then waits for one
// message back and prints it.
KOVA_WIN_ROLE("channel_peer") {
    ipc::channel ch;
    if (!ch.connect(args.at(0).c_str(), ipc::receiver)) return 1;
    // This process's own receiver counts too: wait for the parent's.
    if (!ch.wait_for_receivers(2, 20000)) return 2;
    unsigned seed = 0;
    for (size_t size : kSizes) {
        const std::string m = Message(size, ++seed);
        if (!ch.send(m.data(), m.size(), 10000)) return 3;
    }
    ipc::message_buffer back = ch.recv(20000);
    Say("back " + std::string(static_cast<const char*>(back.data()), back.size()));
    ch.disconnect();
    return 0;
}

TEST(Segment, TwoProcessesShareZeroFilledBytesOfTheFirstSize) {
    const std::string name = UniqueName("seg");
    handle mine;
    ASSERT_TRUE(mine.acquire(name.c_str(), 4096, ipc::shm::SHM_CREATE_OR_OPEN));
    EXPECT_EQ(mine.size(), 4096u);
    auto* words = static_cast<std::uint32_t*>(mine.get());
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(words[i], 0u) << "a new segment is zero-filled";
    __atomic_store_n(&words[0], kMagic, __ATOMIC_RELEASE);

    Child peer;
    ASSERT_TRUE(peer.StartRole("segment_peer", {name}));
    EXPECT_EQ(peer.WaitPrefix("size "), "size 4096") << "an opener gets the existing size";
    ASSERT_TRUE(peer.WaitPrefix("written"));
    EXPECT_EQ(__atomic_load_n(&words[1], __ATOMIC_ACQUIRE), 0xBEEFu);
    EXPECT_EQ(peer.Finish(), 0);
}

TEST(Segment, OpenModesAndNameErrorsPrintTheirLines) {
    const std::string name = UniqueName("modes");
    handle first(name.c_str(), 64, ipc::shm::SHM_CREATE);
    ASSERT_TRUE(first.valid());
    const std::string missing = UniqueName("missing");

    CapturedOutput captured;
    ipc::shm::id_t duplicate = ipc::shm::acquire(name.c_str(), 64, ipc::shm::SHM_CREATE);
    ipc::shm::id_t none = ipc::shm::acquire(missing.c_str(), 64, ipc::shm::SHM_OPEN);
    ipc::shm::id_t empty = ipc::shm::acquire("", 64);
    ipc::shm::id_t notUtf8 = ipc::shm::acquire("bad\xff", 64);
    const std::string err = captured.Err();

    EXPECT_EQ(duplicate, nullptr);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(notUtf8, nullptr);
    // 183 ERROR_ALREADY_EXISTS, 2 ERROR_FILE_NOT_FOUND, 1113 ERROR_NO_UNICODE_TRANSLATION.
    EXPECT_EQ(err, "fail CreateFileMapping/OpenFileMapping[183]: " + name + "\n" +
                       "fail CreateFileMapping/OpenFileMapping[2]: " + missing + "\n" +
                       "fail acquire: name is empty\n"
                       "fail CreateFileMapping/OpenFileMapping[1113]: bad\xff\n");
    EXPECT_EQ(captured.Out(), "");
}

TEST(Segment, RemovedWithItsLastUserEvenWhenThatUserWasTerminated) {
    const std::string name = UniqueName("life");
    {
        Child peer;
        handle mine(name.c_str(), 128);
        ASSERT_TRUE(mine.valid());
        __atomic_store_n(static_cast<std::uint32_t*>(mine.get()), kMagic, __ATOMIC_RELEASE);
        ASSERT_TRUE(peer.StartRole("segment_peer", {name}));
        ASSERT_TRUE(peer.WaitPrefix("written"));
        mine.release();
        CapturedOutput quiet;
        handle stillThere(name.c_str(), 128, ipc::shm::SHM_OPEN);
        EXPECT_TRUE(stillThere.valid()) << "the peer still holds it";
        stillThere.release();
        peer.Kill();
    }
    CapturedOutput captured;
    handle gone(name.c_str(), 128, ipc::shm::SHM_OPEN);
    EXPECT_FALSE(gone.valid());
    EXPECT_EQ(captured.Err(), "fail CreateFileMapping/OpenFileMapping[2]: " + name + "\n");
}

TEST(NamedMutex, TimesOutWhileHeldAndIsTakenOverWhenTheOwnerEnds) {
    const std::string name = UniqueName("mutex");
    ipc::named_mutex m;
    ASSERT_TRUE(m.open(name.c_str()));
    Child owner;
    ASSERT_TRUE(owner.StartRole("mutex_abandon", {name}));
    ASSERT_TRUE(owner.WaitPrefix("locked"));
    {
        CapturedOutput captured;
        EXPECT_FALSE(m.lock(100));
        EXPECT_EQ(captured.Out(), "");
        EXPECT_EQ(captured.Err(), "") << "a time-out prints nothing";
    }
    owner.CloseInput();
    ASSERT_EQ(owner.Finish(), 0);
    CapturedOutput captured;
    EXPECT_TRUE(m.lock(5000));
    const std::string out = captured.Out();
    EXPECT_EQ(out.rfind("fail WaitForSingleObject[", 0), 0u) << out;
    EXPECT_NE(out.find("]: WAIT_ABANDONED, try again.\n"), std::string::npos) << out;
    EXPECT_EQ(captured.Err(), "");
    EXPECT_TRUE(m.unlock());
}

TEST(NamedSemaphore, RefusesToPassTheMaximumCount) {
    ipc::named_semaphore s;
    ASSERT_TRUE(s.open(UniqueName("sem").c_str(), 1));
    CapturedOutput captured;
    EXPECT_FALSE(s.post(2147483647u));
    EXPECT_TRUE(s.post(1));
    // 298 ERROR_TOO_MANY_POSTS.
    EXPECT_EQ(captured.Err(), "fail ReleaseSemaphore[298]\n");
}

TEST(NamedCondition, TimedWaitLeavesTheCounterAndBroadcastWithoutWaiterIsFalse) {
    const std::string name = UniqueName("cond");
    ipc::named_condition c;
    ipc::named_mutex m;
    ASSERT_TRUE(c.open(name.c_str()));
    ASSERT_TRUE(m.open((name + "_m").c_str()));
    EXPECT_FALSE(c.broadcast(m));
    EXPECT_EQ(ReadCounter(name), 0);
    ASSERT_TRUE(m.lock());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.wait(m, 100));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(m.unlock()) << "the wait gives the mutex back locked";
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_EQ(ReadCounter(name), 0);
}

TEST(Waiter, OneBroadcastReleasesWaitersInThreeProcesses) {
    const std::string name = UniqueName("waiter");
    const std::string flagName = UniqueName("flag");
    ipc::waiter w;
    handle flag(flagName.c_str(), 4);
    ASSERT_TRUE(w.open(name.c_str()));
    ASSERT_TRUE(flag.valid());
    Child waiters[3];
    for (Child& c : waiters) ASSERT_TRUE(c.StartRole("waiter", {name, flagName}));
    for (Child& c : waiters) ASSERT_TRUE(c.WaitPrefix("waiting"));
    // The three are inside their waits once the waiter's lock can be taken; the counter says so.
    ASSERT_TRUE(Eventually([&] { return ReadCounter("_waiter_cond_" + name) == 3; }));
    __atomic_store_n(static_cast<std::uint32_t*>(flag.get()), 1u, __ATOMIC_RELEASE);
    EXPECT_TRUE(w.broadcast());
    for (Child& c : waiters) {
        EXPECT_EQ(c.WaitPrefix("done "), "done 1");
        EXPECT_EQ(c.Finish(), 0);
    }
    EXPECT_EQ(ReadCounter("_waiter_cond_" + name), 0);
}

TEST(Channel, TwoProcessesExchangeMessagesOfEverySize) {
    const std::string name = UniqueName("chan");
    ipc::channel ch;
    ASSERT_TRUE(ch.connect(name.c_str(), ipc::receiver));
    Child peer;
    ASSERT_TRUE(peer.StartRole("channel_peer", {name}));
    unsigned seed = 0;
    for (size_t size : kSizes) {
        SCOPED_TRACE(size);
        // Blocks in the named waiter (the release-and-wait of the ring) until the peer sends.
        ipc::message_buffer m = ch.recv(20000);
        ASSERT_FALSE(m.empty());
        EXPECT_EQ(std::string(static_cast<const char*>(m.data()), m.size()), Message(size, ++seed));
    }
    EXPECT_EQ(ch.recv_count(), 2u);
    ASSERT_TRUE(ch.send("over", 4, 10000));
    EXPECT_EQ(peer.WaitPrefix("back "), "back over") << "the sender's own message is not received back";
    EXPECT_EQ(peer.Finish(), 0);
    EXPECT_TRUE(Eventually([&] { return ch.recv_count() == 1u; })) << "the peer's receiver left";
}

TEST(Channel, DisconnectFromAnotherThreadEndsABlockedReceive) {
    ipc::channel ch;
    ASSERT_TRUE(ch.connect(UniqueName("wake").c_str(), ipc::receiver));
    std::atomic<bool> returned{false};
    std::thread receiving([&] {
        ipc::message_buffer m = ch.recv();
        EXPECT_TRUE(m.empty());
        returned = true;
    });
    Sleep(200);
    EXPECT_FALSE(returned.load());
    ch.disconnect();
    EXPECT_TRUE(Eventually([&] { return returned.load(); }));
    receiving.join();
}

KOVA_WIN_TEST_MAIN()
