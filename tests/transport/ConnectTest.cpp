#include <arpa/inet.h>
#include <cerrno>
#include <optional>
#include <sys/socket.h>

#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

namespace {

const uint32_t Loopback = htonl(0x7F000001);

// Replaces the system lookup for one test: records the names asked for and answers
// through Answer (which may keep Done for later, or drop it to make the lookup hang).
struct FakeLookup {
    std::function<void(const std::string&, THostLookupDone)> Answer = [](const std::string&, THostLookupDone d) {
        d(0, Loopback);
    };
    std::vector<std::string> Names;
    FakeLookup()
    {
        SetHostLookupOverride([this](const std::string& name, QObject*, THostLookupDone done) {
            Names.push_back(name);
            Answer(name, std::move(done));
        });
    }
    ~FakeLookup() { SetHostLookupOverride(nullptr); }
};

}  // namespace

class ConnectTest : public TransportTest {
protected:
    int Connects = 0, Resolved = 0, Failed = 0, Disconnects = 0;
    std::vector<std::pair<uint16_t, std::string>> Errors;
    void Watch(TSockTransport& t)
    {
        t.OnConnect = [this](TObject*) { ++Connects; };
        t.OnHostResolved = [this](TComponent*) { ++Resolved; };
        t.OnConnectionFailed = [this](TObject*) { ++Failed; };
        t.OnDisconnect = [this](TObject*) { ++Disconnects; };
        t.OnError = [this](TComponent*, uint16_t n, const std::string& m) { Errors.emplace_back(n, m); };
    }
};

// Dotted hosts connect without a lookup, names after one (the parser's "no address" too),
// with OnHostResolved. An invalid host gives the handler one chance to set another.
TEST_F(ConnectTest, HostsAndTheInvalidHostHandler)
{
    Server.Start();
    const std::string longName(128, 'a');  // longer than a lookup can take
    // Lookup: 'a' answers loopback, 'f' fails, 's' the system's. NewHost: what the handler
    // sets (nullptr: leaves Host). Error "" when it connects.
    struct { const char* Host; char Lookup; bool HasHandler; const char* NewHost; bool Handled; int Calls;
             size_t Lookups; int Resolved; const char* Error; } cases[] = {
        {"127.0.0.1", 'a', false, nullptr, false, 0, 0, 0, ""},
        {"mail.example.test", 'a', false, nullptr, false, 0, 1, 1, ""},
        {"255.255.255.255", 'a', false, nullptr, false, 0, 1, 1, ""},
        {"localhost", 's', false, nullptr, false, 0, 0, 1, ""},
        {"0.0.0.0", 'f', false, nullptr, false, 0, 0, 0, "Null Remote Address"},
        {"0.0.0.0", 'f', true, "127.0.0.1", true, 1, 0, 0, ""},
        {"0.0.0.0", 'f', true, "127.0.0.1", false, 1, 0, 0, "Null Remote Address"},
        {"nowhere.test", 'f', false, nullptr, false, 0, 1, 0, "Null Remote Address"},
        {"nowhere.test", 'f', true, nullptr, true, 1, 2, 0, "Null Remote Address"},
        {"nowhere.test", 'f', true, "0.0.0.0", true, 1, 1, 0, "Null Remote Address"},
        {"nowhere.test", 'f', true, "127.0.0.1", true, 1, 1, 0, ""},
        {longName.c_str(), 'f', false, nullptr, false, 0, 0, 0, "Null Remote Address"}};
    for (const auto& c : cases) {
        std::optional<FakeLookup> lookup;
        if (c.Lookup != 's') lookup.emplace();
        if (c.Lookup == 'f') lookup->Answer = [](const std::string&, THostLookupDone done) { done(WSAHOST_NOT_FOUND, 0); };
        TSockTransport t;
        Connects = Resolved = 0;
        Watch(t);
        Aim(t, Server.Port());
        t.SetHost(c.Host);
        int calls = 0;
        if (c.HasHandler)
            t.OnInvalidHost = [&](bool& handled) {
                ++calls;
                if (c.NewHost) t.SetHost(c.NewHost);
                handled = c.Handled;
            };
        EXPECT_EQ(MessageOf<ESockError>([&] { t.Connect(); }), c.Error) << c.Host;
        EXPECT_EQ(calls, c.Calls) << c.Host;
        EXPECT_EQ(lookup ? lookup->Names.size() : c.Lookups, c.Lookups) << c.Host;
        EXPECT_EQ(Resolved, c.Resolved) << c.Host;
        EXPECT_EQ(t.Connected() && Connects == 1, !*c.Error) << c.Host;
        EXPECT_TRUE(*c.Error || (t.PeerAddress() == Loopback && t.PeerPort() == Server.Port())) << c.Host;
    }
}

// A failed, hanging or canceled lookup; then the late failure of an abandoned lookup
// does not spoil the next one.
TEST_F(ConnectTest, LookupFailsTimesOutOrIsCanceled)
{
    FakeLookup lookup;
    lookup.Answer = [](const std::string&, THostLookupDone done) { done(WSAHOST_NOT_FOUND, 0); };
    Client.SetHost("nowhere.test");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ResolveHost(); }), "Host Lookup Failed");
    EXPECT_EQ(Client.PeerAddress(), 0u);

    THostLookupDone stale;
    lookup.Answer = [&](const std::string&, THostLookupDone done) { stale = std::move(done); };  // never answers
    Watch(Client);
    Server.Start();
    Aim(Client, Server.Port());
    Client.SetHost("slow.test");
    Client.SetTimeOut(100);
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Host Lookup Timed Out");
    EXPECT_TRUE(Client.TimedOut());
    EXPECT_EQ(Failed, 0);  // the lookup is not a connect attempt
    ASSERT_TRUE(stale);

    Client.SetTimeOut(0);  // no limit: only a cancel ends it
    CancelLater(Client, 50);
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Host Lookup Canceled");
    EXPECT_FALSE(Client.TimedOut());

    lookup.Answer = [&](const std::string&, THostLookupDone done) {
        stale(WSAHOST_NOT_FOUND, 0);
        done(0, Loopback);
    };
    Client.SetTimeOut(5000);
    Client.Connect();
    EXPECT_TRUE(Client.Connected());
}

// Refused: "Connection Failed", while OnError says why. The same socket then connects,
// and a cancel left pending from before does not spoil the next Connect.
TEST_F(ConnectTest, RefusedConnectionFailsSaysWhyAndKeepsTheSocket)
{
    Server.Start();
    Watch(Client);
    Aim(Client, UnusedLoopbackPort());
    const int before = Client.SocketHandle();
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Connection Failed");
    EXPECT_EQ(Failed, 1);
    EXPECT_EQ(Errors, (std::vector<std::pair<uint16_t, std::string>>{{10061, "10061:Connection refused"}}));
    EXPECT_EQ(Client.LastError(), 10061);
    EXPECT_EQ(Client.SocketHandle(), before);

    Client.SetPort(Server.Port());
    Client.Cancel();
    Client.Connect();
    EXPECT_TRUE(Client.Connected());
    EXPECT_FALSE(Client.CancelRequested());
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Already connected");
}

// A time-out cancels, and that stays visible; a negative time-out means no limit. The
// abandoned connect is withdrawn: the same component then connects elsewhere at once.
TEST_F(ConnectTest, ConnectThatHangsTimesOutOnceOrIsCanceled)
{
    TBlackHoleListener hole;
    for (int timeOut : {150, -1}) {
        TSockTransport t;
        Watch(t);
        Aim(t, hole.Port());
        t.SetTimeOut(timeOut);
        if (timeOut < 0) CancelLater(t, 150);
        EXPECT_EQ(MessageOf<ESockError>([&] { t.Connect(); }), timeOut < 0 ? "Connection Canceled" : "Connection Timed out");
        EXPECT_EQ(t.TimedOut(), timeOut > 0);
        EXPECT_TRUE(t.CancelRequested() || timeOut < 0);
        t.SetPort(Server.Port());  // listening: the connect completes without an accept
        t.SetTimeOut(5000);
        EXPECT_EQ(MessageOf<ESockError>([&] { t.Connect(); }), "") << timeOut;
        EXPECT_TRUE(t.Connected());
    }
    EXPECT_EQ(Failed, 2);
}

// The first socket resets its connection on close, the fresh ones close gracefully; a
// close by either side, or of the idle socket, leaves a fresh socket for the next Connect.
TEST_F(ConnectTest, EveryCloseLeavesAFreshSocketForTheNextConnect)
{
    std::vector<int> endings;  // recv result: 0 (EOF) or -errno
    auto observe = [&](TServerConnection& c, std::string&) {
        char b;
        endings.push_back(::recv(c.Fd(), &b, 1, 0) == 0 ? 0 : -errno);
        return true;
    };
    Server.Do(observe).Accept().Close().Accept().Expect("third").Do(observe);
    Server.Start();
    Watch(Client);
    ConnectTo(Client, Server);
    Client.Disconnect();
    EXPECT_FALSE(Client.Connected());
    Client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !Client.Connected(); }));
    Client.Connect();
    Client.Writeln("third");
    Client.Disconnect();
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(endings, (std::vector<int>{-ECONNRESET, 0}));
    Client.Disconnect();  // the idle socket too
    EXPECT_GE(Client.SocketHandle(), 0);
    EXPECT_EQ(Disconnects, 4);
    EXPECT_EQ(Connects, 3);
    EXPECT_EQ(Server.Connections(), 3);
}

// The next connection starts with none of them: its greeting is its own.
TEST_F(ConnectTest, PeerCloseKeepsTheLastBytesAndFiresDisconnectOnce)
{
    Server.Send("221 bye\r\npartial").Close().Accept().SendLine("220 new");
    Server.Start();
    Watch(Client);
    ConnectTo(Client, Server);
    ASSERT_TRUE(PumpUntil([&] { return !Client.Connected(); }));
    PumpUntil([] { return false; }, 20);  // nothing more may follow
    EXPECT_EQ(Disconnects, 1);
    EXPECT_EQ(Client.InBuffer().DataString(), "221 bye\r\npartial");
    std::string line;
    Client.ReadLn(line);  // a whole line is still there to read
    EXPECT_EQ(line, "221 bye\r\n");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Connection closed");
    Client.Connect();
    Client.ReadLn(line);
    EXPECT_EQ(line, "220 new\r\n");
}

// The handler is asked once; claiming to have connected without doing so raises the
// general exception, not a socket error.
TEST_F(ConnectTest, RequireConnectionAsksTheHandlerOnce)
{
    Server.Start();
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.RequireConnection(); }), "unexpected exception class: Not Connected");
    int calls = 0;
    bool connect = false;
    Client.OnConnectionRequired = [&](bool& handled) {
        ++calls;
        if (connect) ConnectTo(Client, Server);
        handled = true;
    };
    EXPECT_EQ(MessageOf<Exception>([&] { Client.RequireConnection(); }), "Not Connected");
    connect = true;
    Client.RequireConnection();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(Client.Connected());
}

TEST(SocketLibrary, StartedByTheFirstComponentAndCountedDown)
{
    ASSERT_EQ(TSockTransport::StartupCount(), 0) << "a component of an earlier test is still alive";
    {
        TSockTransport first, second;
        EXPECT_EQ(TSockTransport::StartupCount(), 2);
        EXPECT_EQ(first.WinsockInfo().Count(), 6);
        EXPECT_EQ(first.WinsockInfo()[0], "Version= 1.1");
        EXPECT_EQ(second.WinsockInfo().Count(), 0);
        first.Cancel();
        EXPECT_EQ(MessageOf<ESockError>([&] { first.Accept(); }), "Accepting Canceled");
    }
    EXPECT_EQ(TSockTransport::StartupCount(), 0);
}
