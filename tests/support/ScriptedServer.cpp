#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ListenOnLoopback(int Backlog, uint16_t& Port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket() failed");
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, Backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    Port = ntohs(sa.sin_port);
    return fd;
}

std::string Printable(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------- connection

bool TServerConnection::Fill()
{
    if (!FServer->WaitReadable(FFd, FServer->FStepTimeoutMs)) return false;
    char buf[65536];
    const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    FServer->Record(buf, static_cast<size_t>(n));
    FPending.append(buf, static_cast<size_t>(n));
    return true;
}

bool TServerConnection::ReadLine(std::string& Line)
{
    for (;;) {
        const size_t lf = FPending.find('\n');
        if (lf != std::string::npos) {
            Line = FPending.substr(0, lf + 1);
            FPending.erase(0, lf + 1);
            return true;
        }
        if (!Fill()) return false;
    }
}

bool TServerConnection::ReadBytes(size_t Count, std::string& Data)
{
    while (FPending.size() < Count)
        if (!Fill()) return false;
    Data = FPending.substr(0, Count);
    FPending.erase(0, Count);
    return true;
}

bool TServerConnection::SendAll(const std::string& Data)
{
    size_t done = 0;
    while (done < Data.size()) {
        const ssize_t n = ::send(FFd, Data.data() + done, Data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// ---------------------------------------------------------------- server

TScriptedServer::TScriptedServer()
{
    FListenFd = ListenOnLoopback(16, FPort);
    if (::pipe2(FWakePipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe() failed");
}

TScriptedServer::~TScriptedServer()
{
    Stop();
    FConn.reset();
    if (FListenFd >= 0) ::close(FListenFd);
    for (int fd : FWakePipe)
        if (fd >= 0) ::close(fd);
}

TScriptedServer& TScriptedServer::Add(std::string Name, std::function<bool(TScriptedServer&, std::string&)> Fn)
{
    if (FStarted) throw std::logic_error("steps must be added before Start()");
    FSteps.push_back({std::move(Name), std::move(Fn)});
    return *this;
}

bool TScriptedServer::NeedConnection(std::string& Error)
{
    if (FConn) return true;
    Error = "no connection";
    return false;
}

TScriptedServer& TScriptedServer::Accept()
{
    return Add("accept", [](TScriptedServer& s, std::string& err) {
        if (!s.WaitReadable(s.FListenFd, s.FStepTimeoutMs)) {
            err = "no client connected";
            return false;
        }
        const int fd = ::accept4(s.FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            err = std::string("accept failed: ") + std::strerror(errno);
            return false;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        s.CloseConnection(false);
        s.FConn = std::make_unique<TServerConnection>(fd);
        s.FConn->FServer = &s;
        std::lock_guard<std::mutex> lock(s.FMutex);
        ++s.FConnections;
        return true;
    });
}

TScriptedServer& TScriptedServer::Send(const std::string& Data)
{
    return Add("send '" + Printable(Data) + "'", [Data](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        if (s.FConn->SendAll(Data)) return true;
        err = "the client is gone";
        return false;
    });
}

TScriptedServer& TScriptedServer::SendLine(const std::string& Line) { return Send(Line + "\r\n"); }

TScriptedServer& TScriptedServer::SendPieces(const std::vector<std::string>& Pieces, int PauseMs)
{
    for (size_t i = 0; i < Pieces.size(); ++i) {
        Send(Pieces[i]);
        if (i + 1 < Pieces.size()) Pause(PauseMs);
    }
    return *this;
}

TScriptedServer& TScriptedServer::Expect(const std::string& Line)
{
    return Add("expect '" + Printable(Line) + "\\r\\n'", [Line](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        std::string got;
        if (!s.FConn->ReadLine(got)) {
            err = "no line came (pending '" + Printable(s.FConn->Pending()) + "')";
            return false;
        }
        if (got == Line + "\r\n") return true;
        err = "got '" + Printable(got) + "'";
        return false;
    });
}

TScriptedServer& TScriptedServer::ExpectBytes(size_t Count)
{
    return Add("expect " + std::to_string(Count) + " bytes", [Count](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        std::string data;
        if (s.FConn->ReadBytes(Count, data)) return true;
        err = "only " + std::to_string(s.FConn->Pending().size()) + " bytes came";
        return false;
    });
}

TScriptedServer& TScriptedServer::ExpectUntil(const std::string& Terminator)
{
    return Add("expect data up to '" + Printable(Terminator) + "'", [Terminator](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        std::string& p = s.FConn->Pending();
        for (;;) {
            const size_t at = p.find(Terminator);
            if (at != std::string::npos) {
                p.erase(0, at + Terminator.size());
                return true;
            }
            if (!s.FConn->Fill()) {
                err = "the terminator never came";
                return false;
            }
        }
    });
}

TScriptedServer& TScriptedServer::AnswerLines(int Count, const std::string& Reply)
{
    return Add("answer " + std::to_string(Count) + " lines", [Count, Reply](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        const std::string answer = Reply + "\r\n";
        std::string line;
        for (int i = 0; i < Count; ++i) {
            if (!s.FConn->ReadLine(line) || !s.FConn->SendAll(answer)) {
                err = "line " + std::to_string(i + 1) + " never came";
                return false;
            }
        }
        return true;
    });
}

TScriptedServer& TScriptedServer::Sink()
{
    return Add("sink", [](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        char buf[1 << 16];
        s.FConn->Pending().clear();
        for (;;) {
            if (!s.WaitReadable(s.FConn->Fd(), s.FStepTimeoutMs)) {
                err = "the client neither sent nor closed";
                return false;
            }
            const ssize_t n = ::recv(s.FConn->Fd(), buf, sizeof buf, 0);
            if (n <= 0) return true;
            s.Record(buf, static_cast<size_t>(n));
        }
    });
}

TScriptedServer& TScriptedServer::ExpectClose()
{
    return Add("expect close", [](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        for (;;) {
            if (!s.FConn->Pending().empty()) {
                err = "got '" + Printable(s.FConn->Pending()) + "' instead";
                return false;
            }
            if (!s.WaitReadable(s.FConn->Fd(), s.FStepTimeoutMs)) {
                err = "the client did not close";
                return false;
            }
            char buf[4096];
            const ssize_t n = ::recv(s.FConn->Fd(), buf, sizeof buf, 0);
            if (n <= 0) return true;  // EOF or reset: either way the client let go
            s.Record(buf, static_cast<size_t>(n));
            s.FConn->Pending().append(buf, static_cast<size_t>(n));
        }
    });
}

TScriptedServer& TScriptedServer::Pause(int Ms)
{
    return Add("pause " + std::to_string(Ms) + " ms", [Ms](TScriptedServer& s, std::string&) {
        s.WaitReadable(-1, Ms);
        return true;
    });
}

TScriptedServer& TScriptedServer::Stall()
{
    return Add("stall", [](TScriptedServer& s, std::string&) {
        {
            std::lock_guard<std::mutex> lock(s.FMutex);
            s.FStalled = true;
        }
        s.FChanged.notify_all();
        s.WaitReadable(-1, -1);
        return true;
    });
}

TScriptedServer& TScriptedServer::Close()
{
    return Add("close", [](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        s.CloseConnection(false);
        return true;
    });
}

TScriptedServer& TScriptedServer::Reset()
{
    return Add("reset", [](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        s.CloseConnection(true);
        return true;
    });
}

TScriptedServer& TScriptedServer::Do(TStepFn Fn)
{
    return Add("custom step", [Fn](TScriptedServer& s, std::string& err) {
        if (!s.NeedConnection(err)) return false;
        return Fn(*s.FConn, err);
    });
}

TScriptedServer& TScriptedServer::Script(const std::string& Text)
{
    std::istringstream in(Text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const size_t start = line.find_first_not_of(" \t");
        const std::string tag = line.substr(start, 2);
        std::string rest = line.substr(start + 2);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
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

void TScriptedServer::CloseConnection(bool Reset)
{
    if (!FConn) return;
    if (Reset) {
        const linger l{1, 0};
        ::setsockopt(FConn->Fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(FConn->Fd());
    FConn.reset();
}

bool TScriptedServer::WaitReadable(int Fd, int TimeoutMs) const
{
    pollfd fds[2] = {{FWakePipe[0], POLLIN, 0}, {Fd, POLLIN, 0}};
    const nfds_t n = Fd >= 0 ? 2 : 1;
    for (;;) {
        const int rc = ::poll(fds, n, TimeoutMs);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        if (fds[0].revents) return false;  // stop requested
        return true;
    }
}

bool TScriptedServer::Stopping() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FStop;
}

void TScriptedServer::Record(const char* Data, size_t Count)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FReceivedCount += Count;
    if (FRecordBytes) FReceived.append(Data, Count);
}

void TScriptedServer::Start()
{
    if (FStarted) return;
    if (FSteps.empty() || FSteps.front().Name != "accept") {
        FStarted = false;
        std::vector<TStep> steps = std::move(FSteps);
        FSteps.clear();
        Accept();
        for (auto& s : steps) FSteps.push_back(std::move(s));
    }
    FStarted = true;
    FThread = std::thread([this] { Run(); });
}

void TScriptedServer::Run()
{
    for (size_t i = 0; i < FSteps.size(); ++i) {
        std::string err;
        const bool ok = FSteps[i].Fn(*this, err);
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (!ok) {
                FError = "step " + std::to_string(i + 1) + " (" + FSteps[i].Name + "): " +
                         (FStop ? "stopped before it completed" : err);
            } else {
                FStepsDone = i + 1;
            }
        }
        FChanged.notify_all();
        if (!ok) {
            CloseConnection(false);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FFinished = true;
    }
    FChanged.notify_all();
    // Keep the connection open until the test is done with it.
    WaitReadable(-1, -1);
}

void TScriptedServer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FStop && !FThread.joinable()) return;
        FStop = true;
    }
    if (FWakePipe[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] ssize_t n = ::write(FWakePipe[1], &c, 1);
    }
    if (FThread.joinable()) FThread.join();
}

::testing::AssertionResult TScriptedServer::Finished(int TimeoutMs)
{
    std::unique_lock<std::mutex> lock(FMutex);
    FChanged.wait_for(lock, std::chrono::milliseconds(TimeoutMs),
                      [this] { return FFinished || FStalled || !FError.empty(); });
    if (!FError.empty())
        return ::testing::AssertionFailure() << "server script failed at " << FError << "; received so far: '"
                                             << Printable(FReceived) << "'";
    if (FFinished || FStalled) return ::testing::AssertionSuccess();
    const size_t next = FStepsDone;
    return ::testing::AssertionFailure() << "server script not finished: waiting in step " << next + 1 << " ("
                                         << (next < FSteps.size() ? FSteps[next].Name : "?") << "); received so far: '"
                                         << Printable(FReceived) << "'";
}

bool TScriptedServer::Done() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FFinished && FError.empty();
}

std::string TScriptedServer::Received() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FReceived;
}

uint64_t TScriptedServer::ReceivedCount() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FReceivedCount;
}

int TScriptedServer::Connections() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FConnections;
}

// ---------------------------------------------------------------- helpers

TBlackHoleListener::TBlackHoleListener()
{
    FListenFd = ListenOnLoopback(0, FPort);
    // Fill the accept queue; once it is full the kernel drops further SYNs, so a
    // connect hangs until its own time-out.
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(FPort);
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        FFillers.push_back(fd);
    }
    ::usleep(50 * 1000);  // let the handshakes that can complete, complete
}

TBlackHoleListener::~TBlackHoleListener()
{
    for (int fd : FFillers) ::close(fd);
    if (FListenFd >= 0) ::close(FListenFd);
}

uint16_t UnusedLoopbackPort()
{
    uint16_t port = 0;
    const int fd = ListenOnLoopback(1, port);
    ::close(fd);
    return port;
}
