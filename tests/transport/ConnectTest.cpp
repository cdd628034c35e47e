#include <arpa/inet.h>
#include <list>

#include "platform/AsyncSocket.h"
#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

namespace {

const uint32_t Loopback = htonl(0x7F000001);

// Replaces the system lookup while it lives, and records the names asked for:
// "nowhere.test" is unknown, "slow.test" never answers (its completion is kept), and any
// other name is the loopback address, answered after the kept completion fails late.
struct FakeLookup {
    std::vector<std::string> Names;
    THostLookupDone Kept;
    FakeLookup()
    {
        SetHostLookupOverride([this](const std::string& name, QObject*, THostLookupDone done) {
            Names.push_back(name);
            if (name == "nowhere.test") return done(WSAHOST_NOT_FOUND, 0);
            if (name == "slow.test") return void(Kept = std::move(done));
            if (Kept) Kept(WSAHOST_NOT_FOUND, 0);
            Kept = nullptr;
            done(0, Loopback);
        });
    }
    ~FakeLookup() { SetHostLookupOverride(nullptr); }
};

class ConnectTest : public TransportTest {
protected:
    FakeLookup Lookup;
    int Connects = 0, Resolved = 0;
    std::vector<std::pair<uint16_t, std::string>> Errors;
    void Watch(TSockTransport& t)
    {
        t.OnConnect = [this](TObject*) { ++Connects; };
        t.OnHostResolved = [this](TComponent*) { ++Resolved; };
        t.OnError = [this](TComponent*, uint16_t n, const std::string& m) { Errors.emplace_back(n, m); };
    }
};

// Dotted hosts connect without a lookup, names after one, with OnHostResolved; a name
// too long for a lookup fails without one. An invalid host gives the handler one chance
// to set another.
TEST_F(ConnectTest, HostsAndTheInvalidHostHandler)
{
    Server.Start();
    const std::string longName(128, 'a');
    // clang-format off
    struct { const char* Host; bool HasHandler; const char* NewHost; size_t Lookups; int Resolved; const char* Error; } cases[] = {
        {"127.0.0.1", false, nullptr, 0, 0, ""},
        {"mail.example.test", false, nullptr, 1, 1, ""},
        {"0.0.0.0", true, "127.0.0.1", 0, 0, ""},
        {"nowhere.test", false, nullptr, 1, 0, "Null Remote Address"},
        {"nowhere.test", true, nullptr, 2, 0, "Null Remote Address"},
        {longName.c_str(), false, nullptr, 0, 0, "Null Remote Address"}};
    // clang-format on
    for (const auto& c : cases) {
        TSockTransport t;
        Connects = Resolved = 0;
        Lookup.Names.clear();
        Watch(t);
        Aim(t, Server.Port());
        t.SetHost(c.Host);
        int calls = 0;
        if (c.HasHandler)
            t.OnInvalidHost = [&](bool& handled) {
                ++calls;
                if (c.NewHost) t.SetHost(c.NewHost);
                handled = true;
            };
        EXPECT_EQ(MessageOf<ESockError>([&] { t.Connect(); }), c.Error) << c.Host;
        EXPECT_EQ(calls, c.HasHandler ? 1 : 0) << c.Host;
        EXPECT_EQ(Lookup.Names.size(), c.Lookups) << c.Host;
        EXPECT_EQ(Resolved, c.Resolved) << c.Host;
        EXPECT_EQ(t.Connected() && Connects == 1, !*c.Error) << c.Host;
    }
}

// Every wait of Connect ends with its own text: the lookup and the connect past the
// time-out or on a cancel (a time-out of 0 or below is no limit), and a refused connect,
// whose reason goes to OnError. The same component then connects at once: an abandoned
// connect was withdrawn, a cancel left pending is cleared, and the late failure of an
// abandoned lookup is ignored.
TEST_F(ConnectTest, EveryFailedConnectSaysWhyAndTheNextOneWorks)
{
    TScriptedServer hole;  // never started: once its backlog is full, a connect to it hangs
    std::list<TSockTransport> fillers(20);
    for (TSockTransport& f : fillers) {
        Aim(f, hole.Port());
        f.SetTimeOut(20);
        MessageOf<ESockError>([&] { f.Connect(); });
    }
    Server.Start();
    // clang-format off
    struct { const char* Host; uint16_t Port; int TimeOut; const char* Error; const char* Reason; } cases[] = {
        {"slow.test", 25, 100, "Host Lookup Timed Out", nullptr},
        {"slow.test", 25, 0, "Host Lookup Canceled", nullptr},
        {"127.0.0.1", hole.Port(), 150, "Connection Timed out", nullptr},
        {"127.0.0.1", hole.Port(), -1, "Connection Canceled", nullptr},
        {"127.0.0.1", UnusedLoopbackPort(), 5000, "Connection Failed", "10061:Connection refused"}};
    // clang-format on
    for (const auto& c : cases) {
        TSockTransport t;
        Errors.clear();
        Watch(t);
        Aim(t, c.Port);
        t.SetHost(c.Host);
        t.SetTimeOut(c.TimeOut);
        if (c.TimeOut <= 0) CancelLater(t, 100);
        EXPECT_EQ(MessageOf<ESockError>([&] { t.Connect(); }), c.Error);
        EXPECT_EQ(Errors, (c.Reason ? decltype(Errors){{10061, c.Reason}} : decltype(Errors){})) << c.Error;
        t.SetHost("back.test");
        t.SetPort(Server.Port());
        t.SetTimeOut(5000);
        t.Cancel();
        EXPECT_EQ(MessageOf<ESockError>([&] { t.Connect(); }), "") << c.Error;
        EXPECT_TRUE(t.Connected() && !t.CancelRequested());
    }
}

// A number without a text still says which it was. A connect that cannot start (no
// local port) must not pass for one under way.
TEST(SockErrors, UnknownNumbersAndConnectsThatCannotStart)
{
    EXPECT_EQ(SockErrorText(12345), "Unknown Error No. 12345");
    EXPECT_EQ(ConnectErrorFromErrno(EAGAIN), WSAENOBUFS);
}

// A close by either side, or of the idle socket, leaves a fresh socket for the next
// Connect. A peer's close keeps its last bytes, of which a whole line can still be read;
// the next connection starts with none of them.
TEST_F(ConnectTest, EveryCloseLeavesAFreshSocketForTheNextConnect)
{
    Server.ExpectClose().Accept().Send("221 bye\r\npartial").Close().Accept().SendLine("220 new").ExpectClose();
    Server.Start();
    Watch(Client);
    ConnectTo(Client, Server.Port());
    Client.Disconnect();
    EXPECT_FALSE(Client.Connected());
    Client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !Client.Connected(); }));
    EXPECT_EQ(Client.InBuffer().DataString(), "221 bye\r\npartial");
    std::string line;
    Client.ReadLn(line);
    EXPECT_EQ(line, "221 bye\r\n");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Connection closed");
    Client.Connect();
    Client.ReadLn(line);
    EXPECT_EQ(line, "220 new\r\n");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Already connected");
    Client.Disconnect();
    ASSERT_TRUE(Server.Finished());
    Client.Disconnect();  // the idle socket too
    EXPECT_GE(Client.SocketHandle(), 0);
    EXPECT_EQ(Connects, 3);
    EXPECT_EQ(Server.Connections(), 3);
}

}  // namespace
