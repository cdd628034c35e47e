#pragma once
// A non-blocking IPv4 TCP socket whose events are posted as messages to a message target
// (asynchronous select). Each notification carries the socket's tag as WParam and
// MakeSelectReply(event, error) as LParam. Re-enabling rules:
//  - read: once, then again only after Recv was called;
//  - write: after the connect completed, and after a Send that would have blocked;
//  - connect: once, with the error from SO_ERROR;
//  - close: once, after a Recv met the end of the stream (the peer closed or reset);
//  - accept: on a listening socket, once per Accept call.
// Every call sets SockLastError() on failure. TCP_NODELAY is set on every socket.
#include <cstdint>
#include <memory>

class TMessageTarget;
class QSocketNotifier;

// clang-format off
enum TSelectEvent : uint16_t {
    sfRead = 1, sfWrite = 2, sfOob = 4, sfAccept = 8, sfConnect = 16, sfClose = 32,
    sfAll = 63,
};
// clang-format on

// The socket error number of a failed non-blocking connect's errno.
int ConnectErrorFromErrno(int Errno);

class TAsyncSocket {
public:
    TAsyncSocket();
    ~TAsyncSocket();  // closes the socket if still open
    TAsyncSocket(const TAsyncSocket&) = delete;
    TAsyncSocket& operator=(const TAsyncSocket&) = delete;

    // socket(); with ResetOnClose the linger option (on, 0 s) makes Close() reset the
    // connection. False on failure (SockLastError set).
    bool Open(bool ResetOnClose);
    // Wraps an accepted descriptor.
    bool Adopt(int Fd);
    bool IsOpen() const { return FFd >= 0; }
    int Handle() const { return FFd; }

    // Asks for the events in Events (sfAll for all); 0 stops delivery.
    void Select(TMessageTarget* Target, uint32_t Msg, uintptr_t Tag, uint16_t Events);

    // 0 when connected at once, -1 otherwise; a connect under way leaves 10035, one
    // that cannot start for want of a local port 10055.
    int Connect(uint32_t AddrNetOrder, uint16_t Port);
    // Bytes received, 0 at the peer's close, -1 on error (10035 when nothing is there).
    int Recv(void* Buffer, int Count);
    // While on, each read acknowledges at once. For a client that reads several replies
    // without sending: nothing of its own would carry the acknowledgement, and a server whose
    // small writes wait for it (Nagle) would stall for the delayed-acknowledgement time,
    // about 40 ms. Off otherwise: in lockstep the next command carries it for free.
    void SetQuickAck(bool On) { FQuickAck = On; }
    // Bytes accepted, -1 on error (10035 when the socket cannot take data now).
    int Send(const void* Buffer, int Count);
    // Descriptor of an accepted connection or -1; fills the peer's address.
    int Accept(uint32_t& PeerAddrNetOrder, uint16_t& PeerPort);
    // 0 or -1. Stops delivery first.
    int Close();

private:
    void Arm();
    void ResetState();
    void OnReadable();
    void OnWritable();
    void PostEvent(uint16_t Event, uint16_t Error);

    int FFd = -1;
    bool FQuickAck = false;
    TMessageTarget* FTarget = nullptr;
    uint32_t FMsg = 0;
    uintptr_t FTag = 0;
    uint16_t FEvents = 0;
    bool FConnecting = false;
    bool FEstablished = false;  // connect completed: read and close events may come
    bool FReadArmed = false;    // a read notification may be posted
    bool FReadMuted = false;    // the read notifier was turned off until Recv
    bool FWriteArmed = false;
    bool FCloseSent = false;
    bool FConnectFailed = false;  // the last connect attempt failed
    bool FResetOnClose = false;
    bool FEndSeen = false;  // a Recv met the end of the stream (or a broken one)
    uint16_t FEndError = 0;
    bool FListening = false;
    std::unique_ptr<QSocketNotifier> FReadNotifier;
    std::unique_ptr<QSocketNotifier> FWriteNotifier;
};
