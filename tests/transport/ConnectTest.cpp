#include <QPointer>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <optional>
#include <sys/socket.h>

#include "base/Exception.h"
#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

namespace {

const uint32_t Loopback = htonl(0x7F000001);

// Replaces the system lookup for one test: records the names asked for and answers
// through Answer (which may keep Done for later, or drop it to make the lookup hang).
class FakeLookup {
public:
    std::function<void(const std::string&, THostLookupDone)> Answer = [](const std::string&, THostLookupDone done) {
        done(0, Loopback);
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

TEST_F(ConnectTest, HostsResolveByAddressOrByName)
{
    struct Case {
        const char* Host;
        bool SystemLookup;
        size_t Lookups;
        int Resolved;  // OnHostResolved only after a name lookup
    } cases[] = {
        {"127.0.0.1", false, 0, 0},
        {"mail.example.test", false, 1, 1},
        {"255.255.255.255", false, 1, 1},  // the parser's "no address": looked up as a name
        {"localhost", true, 0, 1},
    };
    for (const Case& c : cases) {
        std::optional<FakeLookup> lookup;
        if (!c.SystemLookup) lookup.emplace();
        TScriptedServer server;
        server.Start();
        TSockTransport t;
        Connects = Resolved = 0;
        Watch(t);
        Aim(t, server.Port());
        t.SetHost(c.Host);
        t.Connect();
        EXPECT_TRUE(t.Connected()) << c.Host;
        EXPECT_EQ(Connects, 1) << c.Host;
        EXPECT_EQ(Resolved, c.Resolved) << c.Host;
        if (lookup) {
            EXPECT_EQ(lookup->Names.size(), c.Lookups) << c.Host;
        }
        EXPECT_EQ(t.PeerAddress(), Loopback) << c.Host;
        EXPECT_EQ(t.PeerPort(), server.Port());
        EXPECT_FALSE(t.TimedOut());
    }
}

TEST_F(ConnectTest, InvalidHostHandlerGetsOneChance)
{
    FakeLookup lookup;
    lookup.Answer = [](const std::string&, THostLookupDone done) { done(WSAHOST_NOT_FOUND, 0); };
    Server.Start();

    struct Case {
        const char* Host;
        bool HasHandler;
        const char* NewHost;  // what the handler sets (nullptr: leaves Host)
        bool Handled;
        int Calls;            // handler calls expected
        size_t Lookups;       // lookups expected
        const char* Error;    // "" when it connects
    } cases[] = {
        {"0.0.0.0", false, nullptr, false, 0, 0, "Null Remote Address"},
        {"0.0.0.0", true, "127.0.0.1", true, 1, 0, ""},
        {"0.0.0.0", true, "127.0.0.1", false, 1, 0, "Null Remote Address"},
        {"nowhere.test", false, nullptr, false, 0, 1, "Null Remote Address"},
        {"nowhere.test", true, nullptr, true, 1, 2, "Null Remote Address"},
        {"nowhere.test", true, "0.0.0.0", true, 1, 1, "Null Remote Address"},
        {"nowhere.test", true, "127.0.0.1", true, 1, 1, ""},
        {nullptr, false, nullptr, false, 0, 0, "Null Remote Address"},  // name set below
    };
    const std::string longName(128, 'a');  // longer than a lookup can take
    cases[7].Host = longName.c_str();

    for (const Case& c : cases) {
        lookup.Names.clear();
        TSockTransport t;
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
        EXPECT_EQ(lookup.Names.size(), c.Lookups) << c.Host;
        EXPECT_EQ(t.Connected(), std::string(c.Error).empty()) << c.Host;
    }
}

TEST_F(ConnectTest, LookupFailsTimesOutOrIsCanceled)
{
    FakeLookup lookup;
    lookup.Answer = [](const std::string&, THostLookupDone done) { done(WSAHOST_NOT_FOUND, 0); };
    Client.SetHost("nowhere.test");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ResolveHost(); }), "Host Lookup Failed");
    EXPECT_EQ(Client.PeerAddress(), 0u);

    lookup.Answer = [](const std::string&, THostLookupDone) {};  // never answers
    Watch(Client);
    Client.SetHost("slow.test");
    Client.SetTimeOut(100);
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Host Lookup Timed Out");
    EXPECT_TRUE(Client.TimedOut());
    EXPECT_EQ(Failed, 0);  // the lookup is not a connect attempt

    Client.SetTimeOut(0);  // no limit: only a cancel ends it
    CancelLater(Client, 50);
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Host Lookup Canceled");
    EXPECT_FALSE(Client.TimedOut());
}

TEST_F(ConnectTest, AnAbandonedLookupsLateAnswerIsIgnored)
{
    FakeLookup lookup;
    THostLookupDone stale;
    lookup.Answer = [&](const std::string&, THostLookupDone done) { stale = std::move(done); };
    Server.Start();
    Aim(Client, Server.Port());
    Client.SetHost("slow.test");
    Client.SetTimeOut(50);
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Host Lookup Timed Out");
    ASSERT_TRUE(stale);

    // The second lookup answers; the first one's failure arrives just before it.
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
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].first, 10061);
    EXPECT_EQ(Errors[0].second, "10061:Connection refused");
    EXPECT_EQ(Client.LastError(), 10061);
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.SocketHandle(), before);

    Client.SetPort(Server.Port());
    Client.Cancel();
    Client.Connect();
    EXPECT_TRUE(Client.Connected());
    EXPECT_FALSE(Client.CancelRequested());
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Already connected");
}

TEST_F(ConnectTest, ConnectThatHangsTimesOutOnceOrIsCanceled)
{
    TBlackHoleListener hole;
    Watch(Client);
    Aim(Client, hole.Port());
    Client.SetTimeOut(150);
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Connect(); }), "Connection Timed out");
    EXPECT_EQ(Failed, 1);
    EXPECT_TRUE(Client.TimedOut());
    EXPECT_TRUE(Client.CancelRequested());  // the time-out cancels, and that stays visible

    // A negative time-out means no limit: the wait ends only by the cancel.
    TSockTransport other;
    Watch(other);
    Aim(other, hole.Port());
    other.SetTimeOut(-1);
    CancelLater(other, 150);
    EXPECT_EQ(MessageOf<ESockError>([&] { other.Connect(); }), "Connection Canceled");
    EXPECT_EQ(Failed, 2);
    EXPECT_FALSE(other.TimedOut());
}

// The first socket resets its connection on close, the fresh ones close gracefully; a
// close by either side, or of the idle socket, leaves a fresh socket for the next Connect.
TEST_F(ConnectTest, EveryCloseLeavesAFreshSocketForTheNextConnect)
{
    std::vector<int> endings;  // recv result: 0 (EOF) or -errno
    auto observe = [&](TServerConnection& c, std::string&) {
        char b;
        const ssize_t n = ::recv(c.Fd(), &b, 1, 0);
        endings.push_back(n == 0 ? 0 : -errno);
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

TEST_F(ConnectTest, PeerCloseKeepsTheLastBytesAndFiresDisconnectOnce)
{
    Server.Send("221 bye\r\npartial").Close();
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
}

TEST_F(ConnectTest, RequireConnectionAsksTheHandlerOnce)
{
    Server.Start();
    // The general exception, not a socket error.
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.RequireConnection(); }), "unexpected exception class: Not Connected");

    int calls = 0;
    Client.OnConnectionRequired = [&](bool& handled) {
        ++calls;
        handled = true;  // claims to have connected, but did not
    };
    EXPECT_EQ(MessageOf<Exception>([&] { Client.RequireConnection(); }), "Not Connected");
    EXPECT_EQ(calls, 1);

    Client.OnConnectionRequired = [&](bool& handled) {
        ++calls;
        ConnectTo(Client, Server);
        handled = true;
    };
    Client.RequireConnection();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(Client.Connected());
}

TEST(SocketLibrary, StartedByTheFirstComponentAndCountedDown)
{
    const int base = TSockTransport::StartupCount();
    ASSERT_EQ(base, 0) << "a component of an earlier test is still alive";
    {
        TSockTransport first;
        TSockTransport second;
        EXPECT_EQ(TSockTransport::StartupCount(), 2);
        EXPECT_EQ(first.WinsockInfo().Count(), 6);
        EXPECT_EQ(first.WinsockInfo()[0], "Version= 1.1");
        EXPECT_EQ(second.WinsockInfo().Count(), 0);
    }
    EXPECT_EQ(TSockTransport::StartupCount(), 0);
}

TEST(SocketLibrary, AcceptEndsOnCancel)
{
    TSockTransport t;
    t.Cancel();
    EXPECT_EQ(MessageOf<ESockError>([&] { t.Accept(); }), "Accepting Canceled");
    EXPECT_TRUE(t.CancelRequested());
}
