#include "support/ScriptedServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int StepTimeoutMs = 10000;  // how long a read step waits for the client

int ListenOnLoopback(int Backlog, uint16_t& Port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd, Backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    Port = ntohs(sa.sin_port);
    return fd;
}

// Bytes as an escaped literal, cut short for the messages.
std::string Shown(const std::string& Bytes)
{
    if (Bytes.size() <= 200) return ::testing::PrintToString(Bytes);
    return ::testing::PrintToString(Bytes.substr(0, 200)) + "... (" + std::to_string(Bytes.size()) + " bytes)";
}

// The end of a match of Length found At, or npos.
size_t After(size_t At, size_t Length) { return At == std::string::npos ? At : At + Length; }

}  // namespace

TScriptedServer::TScriptedServer()
{
    FListenFd = ListenOnLoopback(16, FPort);
    if (::pipe(FWakePipe) != 0) throw std::runtime_error("pipe() failed");
}

TScriptedServer::~TScriptedServer()
{
    Stop();
    CloseConnection(false);
    for (int fd : {FListenFd, FWakePipe[0], FWakePipe[1]}) ::close(fd);
}

TScriptedServer& TScriptedServer::Add(TStepKind Kind, std::string Text, size_t Count)
{
    if (FThread.joinable()) throw std::logic_error("steps must be added before Start()");
    if (FSteps.empty() && Kind != skAccept) Accept();
    FSteps.push_back({Kind, std::move(Text), Count});
    return *this;
}

TScriptedServer& TScriptedServer::Script(const std::string& Text)
{
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const std::string tag = line.substr(0, 2), rest = line.substr(std::min<size_t>(line.size(), 3));
        if (tag == "S:")
            SendLine(rest);
        else if (tag == "C:")
            Expect(rest);
        else if (tag == "D:")
            ExpectUntil("\r\n.\r\n");
        else if (tag == "X:")
            Close();
        else
            throw std::invalid_argument("script line without S:, C:, D: or X: - " + line);
    }
    return *this;
}

void TScriptedServer::Start()
{
    if (FThread.joinable()) return;
    if (FSteps.empty()) Accept();
    FThread = std::thread([this] { Run(); });
}

void TScriptedServer::Stop()
{
    [[maybe_unused]] const ssize_t n = ::write(FWakePipe[1], "x", 1);
    if (FThread.joinable()) FThread.join();
}

::testing::AssertionResult TScriptedServer::Finished(int TimeoutMs)
{
    std::unique_lock<std::mutex> lock(FMutex);
    FChanged.wait_for(lock, std::chrono::milliseconds(TimeoutMs), [this] { return FFinished || !FError.empty(); });
    if (FFinished) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "server script "
                                         << (FError.empty() ? "waits in step " + std::to_string(FStepsDone + 1)
                                                            : FError)
                                         << "; received so far: " << Shown(FReceived);
}

// ---------------------------------------------------------------- the server's thread

void TScriptedServer::Run()
{
    std::string error;
    for (size_t i = 0; i < FSteps.size() && error.empty(); ++i) {
        error = FSteps[i].Kind >= skSend && FFd < 0 ? "no connection" : Play(FSteps[i]);
        std::lock_guard<std::mutex> lock(FMutex);
        if (error.empty())
            FFinished = ++FStepsDone == FSteps.size();
        else
            FError = "failed at step " + std::to_string(i + 1) + ": " + error;
        FChanged.notify_all();
    }
    if (!error.empty()) CloseConnection(false);
    WaitReadable(-1, -1);  // holds the connection until the test is done with it
}

std::string TScriptedServer::Play(const TStep& Step)
{
    std::string got;
    switch (Step.Kind) {
    case skAccept: {
        if (!WaitReadable(FListenFd, StepTimeoutMs)) return "no client connected";
        const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return "accept failed, errno " + std::to_string(errno);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        CloseConnection(false);
        FFd = fd;
        std::lock_guard<std::mutex> lock(FMutex);
        ++FConnections;
        return "";
    }
    case skPause: WaitReadable(-1, static_cast<int>(Step.Count)); return "";
    case skStall: return "";  // Run holds the connection once the script is done
    case skSend: return SendAll(Step.Text) ? "" : "the client is gone";
    case skExpect:
        if (!ReadLine(got)) return "expected " + Shown(Step.Text) + ", but no line came; pending " + Shown(FPending);
        return got == Step.Text ? "" : "expected " + Shown(Step.Text) + ", got " + Shown(got);
    case skExpectBytes:
        if (Take([&] { return FPending.size() >= Step.Count ? Step.Count : std::string::npos; })) return "";
        return "expected " + std::to_string(Step.Count) + " bytes, got " + std::to_string(FPending.size());
    case skExpectUntil:
        if (Take([&] { return After(FPending.find(Step.Text), Step.Text.size()); })) return "";
        return "expected data up to " + Shown(Step.Text) + ", but it never came";
    case skAnswer:
        for (size_t i = 0; i < Step.Count; ++i)
            if (!ReadLine(got) || !SendAll(Step.Text)) return "line " + std::to_string(i + 1) + " to answer never came";
        return "";
    case skSink:  // what comes before the close is discarded
    case skExpectClose:
        for (;;) {
            if (Step.Kind == skSink) FPending.clear();
            if (!FPending.empty()) return "expected a close, got " + Shown(FPending);
            const long n = Fill();
            if (n == 0) return "";
            if (n < 0) return "expected a close, but the client neither closed nor sent";
        }
    case skClose:
    case skReset: CloseConnection(Step.Kind == skReset); return "";
    }
    return "unknown step";
}

bool TScriptedServer::WaitReadable(int Fd, int TimeoutMs) const
{
    pollfd fds[2] = {{FWakePipe[0], POLLIN, 0}, {Fd, POLLIN, 0}};  // poll skips a negative Fd
    int rc;
    do rc = ::poll(fds, 2, TimeoutMs);
    while (rc < 0 && errno == EINTR);
    return rc > 0 && !fds[0].revents;
}

long TScriptedServer::Fill()
{
    if (!WaitReadable(FFd, StepTimeoutMs)) return -1;
    char buf[65536];
    const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) return 0;  // a reset counts as a close
    std::lock_guard<std::mutex> lock(FMutex);
    FReceivedCount += static_cast<uint64_t>(n);
    if (FRecordBytes) FReceived.append(buf, static_cast<size_t>(n));
    FPending.append(buf, static_cast<size_t>(n));
    return n;
}

bool TScriptedServer::Take(const std::function<size_t()>& End, std::string* Taken)
{
    size_t n;
    while ((n = End()) == std::string::npos)
        if (Fill() <= 0) return false;
    if (Taken) *Taken = FPending.substr(0, n);
    FPending.erase(0, n);
    return true;
}

bool TScriptedServer::ReadLine(std::string& Line)
{
    return Take([this] { return After(FPending.find('\n'), 1); }, &Line);
}

bool TScriptedServer::SendAll(const std::string& Data) const
{
    for (size_t done = 0; done < Data.size();) {
        const ssize_t n = ::send(FFd, Data.data() + done, Data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void TScriptedServer::CloseConnection(bool Reset)
{
    if (FFd < 0) return;
    const linger l{1, 0};
    if (Reset) ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(FFd);
    FFd = -1;
    FPending.clear();
}

uint16_t UnusedLoopbackPort()
{
    uint16_t port = 0;
    ::close(ListenOnLoopback(1, port));
    return port;
}
