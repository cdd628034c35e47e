#include "platform/AsyncSocket.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/MessageTarget.h"
#include "platform/SocketErrors.h"

namespace {
int Fail()
{
    SetSockLastError(SocketErrorFromErrno(errno));
    return -1;
}
int Fail(int Number)
{
    SetSockLastError(Number);
    return -1;
}
}  // namespace

TAsyncSocket::TAsyncSocket() = default;

TAsyncSocket::~TAsyncSocket()
{
    if (FFd >= 0) Close();
}

void TAsyncSocket::ResetState()
{
    FConnecting = FEstablished = FReadArmed = FWriteArmed = FCloseSent = FListening = FEndSeen = FReadMuted =
        FConnectFailed = false;
    FEndError = 0;
}

namespace {
int NewSocket(bool ResetOnClose)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return Fail();
    // A short command behind unacknowledged data would otherwise wait for the peer's
    // delayed acknowledgement.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (ResetOnClose) {
        const linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    return fd;
}
}  // namespace

bool TAsyncSocket::Open(bool ResetOnClose)
{
    if (FFd >= 0) Close();
    const int fd = NewSocket(ResetOnClose);
    if (fd < 0) return false;
    FFd = fd;
    FResetOnClose = ResetOnClose;
    ResetState();
    return true;
}

bool TAsyncSocket::Adopt(int Fd)
{
    if (FFd >= 0) Close();
    if (Fd < 0) return false;
    const int one = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FFd = Fd;
    ResetState();
    FEstablished = true;
    FReadArmed = true;
    return true;
}

void TAsyncSocket::Select(TMessageTarget* Target, uint32_t Msg, uintptr_t Tag, uint16_t Events)
{
    FTarget = Events ? Target : nullptr;
    FMsg = Msg;
    FTag = Tag;
    FEvents = FTarget ? Events : 0;
    if (FFd >= 0 && FEvents) {
        int acc = 0;
        socklen_t len = sizeof acc;
        if (::getsockopt(FFd, SOL_SOCKET, SO_ACCEPTCONN, &acc, &len) == 0 && acc) {
            FListening = true;
            FReadArmed = true;
        }
        if (!FReadNotifier) {
            FReadNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Read);
            QObject::connect(FReadNotifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
            FWriteNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Write);
            QObject::connect(FWriteNotifier.get(), &QSocketNotifier::activated, [this] { OnWritable(); });
        }
    }
    Arm();
}

void TAsyncSocket::Arm()
{
    if (!FReadNotifier) return;
    // An unconnected TCP socket polls as readable (hang-up) and writable, so the
    // notifiers are only live while there is something to learn from them. A read
    // notifier that is merely waiting for Recv stays enabled: turning a notifier off
    // and on wakes the event loop each time, and Recv normally follows at once. It is
    // turned off only if it fires again before Recv (see OnReadable).
    const bool readUseful = FEvents && !FCloseSent && (FEstablished || FListening);
    const bool wantRead = readUseful && (FReadArmed || !FReadMuted);
    const bool wantWrite = FEvents && (FConnecting || (FWriteArmed && FEstablished));
    if (FReadNotifier->isEnabled() != wantRead) FReadNotifier->setEnabled(wantRead);
    if (FWriteNotifier->isEnabled() != wantWrite) FWriteNotifier->setEnabled(wantWrite);
}

void TAsyncSocket::PostEvent(uint16_t Event, uint16_t Error)
{
    if (FTarget && (FEvents & Event)) FTarget->Post(FMsg, FTag, MakeSelectReply(Event, Error));
}

void TAsyncSocket::OnReadable()
{
    if (!FReadArmed) {
        // Still waiting for Recv: no second notification until then.
        FReadMuted = true;
        Arm();
        return;
    }
    if (FListening) {
        FReadArmed = false;
        Arm();
        PostEvent(sfAccept, 0);
        return;
    }
    if (FEndSeen) {
        // The last Recv found the end of the stream: report the close, once.
        FCloseSent = true;
        Arm();
        PostEvent(sfClose, FEndError);
        return;
    }
    // Data, or the end that the next Recv will find; either way a read notification,
    // and no more until Recv is called.
    FReadArmed = false;
    Arm();
    PostEvent(sfRead, 0);
}

void TAsyncSocket::OnWritable()
{
    if (FConnecting) {
        FConnecting = false;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(FFd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        if (err == 0) {
            FEstablished = true;
            FReadArmed = true;
            FWriteArmed = false;
            Arm();
            PostEvent(sfConnect, 0);
            PostEvent(sfWrite, 0);  // the socket can take data now
        } else {
            FConnectFailed = true;
            Arm();
            PostEvent(sfConnect, static_cast<uint16_t>(SocketErrorFromErrno(err)));
        }
        return;
    }
    FWriteArmed = false;
    Arm();
    PostEvent(sfWrite, 0);
}

int TAsyncSocket::Connect(uint32_t AddrNetOrder, uint16_t Port)
{
    if (FConnectFailed) {
        // Linux will not connect a TCP socket again after a failed attempt, so the same
        // descriptor gets a new socket behind it: to the caller it is the same socket.
        const int fd = NewSocket(FResetOnClose);
        if (fd < 0) return -1;
        const bool moved = ::dup3(fd, FFd, O_CLOEXEC) >= 0;
        ::close(fd);
        if (!moved) return Fail();
        FConnectFailed = false;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(Port);
    sa.sin_addr.s_addr = AddrNetOrder;
    const int rc = ::connect(FFd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (rc == 0 || errno == EINPROGRESS) {
        // Completion is learnt from writability, so an immediate success is reported
        // through the same connect notification.
        FConnecting = true;
        FCloseSent = FEndSeen = false;
        FEndError = 0;
        Arm();
        if (rc == 0) return 0;
    }
    return Fail(ConnectErrorFromErrno(errno));
}

int ConnectErrorFromErrno(int Errno)
{
    // From connect, EAGAIN means no local port or routing entry is free, not "try again
    // when notified": no notification would ever come.
    return Errno == EAGAIN ? WSAENOBUFS : SocketErrorFromErrno(Errno);
}

int TAsyncSocket::Recv(void* Buffer, int Count)
{
    const ssize_t n = ::recv(FFd, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT);
    const int saved = errno;
    // The kernel drops the quick mode on its own, so it is asked for after every read.
    if (n > 0 && FQuickAck) {
        const int one = 1;
        ::setsockopt(FFd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
    if (n == 0 && Count > 0 && FEstablished) {
        FEndSeen = true;
    } else if (n < 0 && saved != EAGAIN && saved != EWOULDBLOCK && saved != EINTR && FEstablished) {
        FEndSeen = true;
        FEndError = static_cast<uint16_t>(SocketErrorFromErrno(saved));
    }
    if (!FReadArmed) {
        FReadArmed = true;
        Arm();
    }
    if (n < 0) {
        errno = saved;
        return Fail();
    }
    return static_cast<int>(n);
}

int TAsyncSocket::Send(const void* Buffer, int Count)
{
    const ssize_t n = ::send(FFd, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
        const int saved = errno;
        if (saved == EAGAIN || saved == EWOULDBLOCK) {
            FWriteArmed = true;
            Arm();
        }
        errno = saved;
        return Fail();
    }
    return static_cast<int>(n);
}

int TAsyncSocket::Accept(uint32_t& PeerAddrNetOrder, uint16_t& PeerPort)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int fd = ::accept4(FFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (FListening && !FReadArmed) {
        FReadArmed = true;
        FReadMuted = false;
        Arm();
    }
    if (fd < 0) return Fail();
    PeerAddrNetOrder = sa.sin_addr.s_addr;
    PeerPort = ntohs(sa.sin_port);
    return fd;
}

int TAsyncSocket::Close()
{
    FReadNotifier.reset();
    FWriteNotifier.reset();
    FTarget = nullptr;
    FEvents = 0;
    const int fd = FFd;
    FFd = -1;
    ResetState();
    if (fd < 0) {
        errno = EBADF;
        return Fail();
    }
    return ::close(fd) == 0 ? 0 : Fail();
}
