#include "transport/SockTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <typeinfo>

#include "base/Exception.h"
#include "platform/AsyncSocket.h"
#include "platform/HostLookup.h"
#include "platform/MessagePump.h"
#include "platform/MessageTarget.h"
#include "platform/SocketErrors.h"
#include "transport/ProtocolLog.h"
#include "transport/ThreadTimer.h"

namespace {

int GStartupCount = 0;
uintptr_t GNextTag = 0;

// The lookup's name buffer holds 127 characters; a longer name cannot be looked up.
constexpr size_t MaxHostNameLength = 127;

const char* const TextClosed = "Connection closed";

bool ConnectionGone(int Error)
{
    switch (Error) {
    case WSAESHUTDOWN:
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENOTCONN:
    case WSAENOTSOCK:
    case WSAENETRESET: return true;
    default: return false;
    }
}

}  // namespace

// ---------------------------------------------------------------- free functions

std::string NthField(const std::string& Text, char Delimiter, int N)
{
    std::string result;
    int seen = 0;
    for (char c : Text) {
        if (c == Delimiter) {
            if (++seen >= N) break;
        } else if (seen == N - 1) {
            result += c;
        }
    }
    return result;
}

// ---------------------------------------------------------------- life cycle

TSockTransport::TSockTransport(TComponent* AOwner)
    : TComponent(AOwner),
      FInBuffer(std::make_unique<TMemoryStream>()),
      FInSpare(std::make_unique<TMemoryStream>()),
      FOutBuffer(std::make_unique<TMemoryStream>())
{
    Status(8, "Create");
    FNotifyWindow = std::make_unique<TMessageTarget>(
        [this](uint32_t Msg, uintptr_t WParam, intptr_t LParam) { Dispatch(Msg, WParam, LParam); });
    FTimer = new TThreadTimer(this);
    FTimer->SetEnabled(false);
    FTimer->SetOnTimer([this](TObject* Sender) { TimerTriggered(Sender); });
    InitializeWinsock();
}

TSockTransport::~TSockTransport()
{
    FDestroying = true;
    try {
        Status(8, "Destroy");
        TSockTransport::Cancel();
    } catch (...) {
    }
    delete FTimer;
    FTimer = nullptr;
    FShuttingDown = true;
    try {
        RequestCloseSocket();
    } catch (...) {
    }
    FSocket.reset();
    FNotifyWindow.reset();  // drops notifications still queued for us
    if (FStarted) --GStartupCount;
}

int TSockTransport::StartupCount() { return GStartupCount; }

void TSockTransport::InitializeWinsock()
{
    Status(8, "Initializing Winsock");
    ++GStartupCount;
    FStarted = true;
    if (GStartupCount == 1) {
        const long maxSockets = ::sysconf(_SC_OPEN_MAX);
        FWinsockInfo.Add("Version= 1.1");
        FWinsockInfo.Add("High Version= 2.2");
        FWinsockInfo.Add("Description= POSIX sockets with event-loop notifications");
        FWinsockInfo.Add("System= Running");
        FWinsockInfo.Add("Max Sockets= " + std::to_string(maxSockets > 0 ? maxSockets : 1024));
        FWinsockInfo.Add("Max Udp pack size= 65507");
    }
    if (!OpenSocket(true)) {
        --GStartupCount;
        FStarted = false;
        throw ESockError("Initializaton of windows sockets failed");
    }
}

bool TSockTransport::OpenSocket(bool First)
{
    auto socket = std::make_unique<TAsyncSocket>();
    // The first socket resets its connection on close; the fresh ones close gracefully.
    if (!socket->Open(First)) return false;
    FSocketTag = ++GNextTag;
    socket->Select(FNotifyWindow.get(), SocketEventMessage, FSocketTag, sfAll);
    FSocket = std::move(socket);
    return true;
}

int TSockTransport::SocketHandle() const { return FSocket && FSocket->IsOpen() ? FSocket->Handle() : -1; }

void TSockTransport::SetQuickAck(bool On)
{
    if (FSocket) FSocket->SetQuickAck(On);
}

int64_t TSockTransport::OutPending() const { return (FOutView ? FOutViewSize : FOutBuffer->Size()) - FOutOffset; }

// ---------------------------------------------------------------- status and errors

void TSockTransport::Status(uint8_t Level, std::string_view Text)
{
    // A view: the many status points of a conversation build no string unless reported.
    if (static_cast<int32_t>(Level) > FReportLevel) return;
    FLastStatus = Text;
    if (!FDestroying && OnStatus) OnStatus(this, std::string(Text));
}

void TSockTransport::LookupErrorMessage(uint16_t Number, std::string& Text)
{
    Text.clear();
    Status(8, "Looking Up Error Message");
    Text = SockErrorText(Number);
}

void TSockTransport::ErrorManager(uint16_t IgnoreValue, std::string& Text)
{
    Status(16, "Checking Error In Error Manager");
    FLastError = SockLastError();
    if ((FLastError & IgnoreValue) == IgnoreValue) {
        Text.clear();
        return;
    }
    LookupErrorMessage(static_cast<uint16_t>(FLastError), Text);
    if (OnError) OnError(this, static_cast<uint16_t>(FLastError), Text);
    throw ESockError(Text);
}

// ---------------------------------------------------------------- notifications

void TSockTransport::Dispatch(uint32_t Msg, uintptr_t WParam, intptr_t LParam)
{
    try {
        // Notifications of a socket or lookup that is no longer ours are left alone.
        if (Msg == SocketEventMessage && WParam != FSocketTag) return;
        if (Msg == LookupDoneMessage && WParam != FLookupTag) return;
        if ((Msg == ReadMoreMessage || Msg == WriteMoreMessage) && WParam != FSocketTag) return;
        // Only the socket library's and the lookup's notices carry an outcome; a stale
        // "read/write more" message must not undo a failed connect's verdict.
        if (Msg == SocketEventMessage || Msg == LookupDoneMessage) FLastEventOk = SelectError(LParam) == 0;
        // During a TLS handshake every socket byte is the channel's: a read or write
        // queued before it started must not take any.
        if ((Msg == ReadMoreMessage || Msg == WriteMoreMessage) && FHandshaking) return AdvanceHandshake();
        switch (Msg) {
        case SocketEventMessage: HandleSocketEvent(SelectEvent(LParam)); break;
        case LookupDoneMessage: FLookupDone = true; break;
        case WriteMoreMessage: WriteFromStream(); break;
        case ReadMoreMessage: ReadToStream(); break;
        default: break;
        }
        if (Msg == SocketEventMessage && SelectEvent(LParam) == sfConnect && !FLastEventOk) {
            // The wait reports "Connection Failed"; the handler learns why.
            FLastError = SelectError(LParam);
            std::string text;
            LookupErrorMessage(static_cast<uint16_t>(FLastError), text);
            if (OnError) OnError(this, static_cast<uint16_t>(FLastError), text);
        }
    } catch (...) {
        // Errors while handling a notification are not passed on.
    }
}

void TSockTransport::HandleSocketEvent(uint16_t Event)
{
    if (FHandshaking && (Event == sfRead || Event == sfWrite)) return AdvanceHandshake();
    // A TLS read may have to wait for the socket to take a write, and a write for a read.
    if (Event == sfRead && FTlsWriteNeedsRead) {
        FTlsWriteNeedsRead = false;
        PostToSelf(WriteMoreMessage);
    }
    if (Event == sfWrite && FTlsReadNeedsWrite) {
        FTlsReadNeedsWrite = false;
        PostToSelf(ReadMoreMessage);
    }
    switch (Event) {
    case sfRead: ReadToStream(); break;
    case sfWrite: WriteFromStream(); break;
    case sfOob: break;
    case sfAccept:
        SetState(TConnectionState::Connected);
        if (OnAccept) OnAccept(this);
        break;
    case sfConnect:
        if (FLastEventOk) {
            SetState(TConnectionState::Connected);
            if (OnConnect) OnConnect(this);
        }
        break;
    case sfClose:
        DrainSocket();
        SetState(TConnectionState::Idle);
        RequestCloseSocket();
        break;
    default: break;
    }
}

void TSockTransport::DrainSocket()
{
    char buf[SockChunkSize];
    for (;;) {
        const int n = SocketRecv(buf, SockChunkSize);
        if (n <= 0) break;
        FInBuffer->Seek(0, soFromEnd);
        FInBuffer->WriteBuffer(buf, n);
        if (FCancelRequested) break;
    }
}

int TSockTransport::SocketRecv(void* Buffer, int Count)
{
    if (!FSocket || !FSocket->IsOpen()) {
        SetSockLastError(WSAENOTSOCK);
        return -1;
    }
    if (!FTls || FHandshaking) return FSocket->Recv(Buffer, Count);
    // Decrypted bytes can wait inside the channel with no notification to come for them,
    // so it is read until it needs the socket again or the buffer is full.
    int total = 0;
    TTlsStatus status = tlsOk;
    while (total < Count) {
        int done = 0;
        status = FTls->Read(static_cast<char*>(Buffer) + total, Count - total, done);
        if (status != tlsOk) break;
        total += done;
    }
    if (total > 0) return total;
    if (status == tlsClosed) return 0;
    if (status == tlsWantWrite) FTlsReadNeedsWrite = true;
    SetSockLastError(TlsFailure(status));
    return -1;
}

int TSockTransport::SocketSend(const void* Buffer, int Count)
{
    if (!FSocket || !FSocket->IsOpen()) {
        SetSockLastError(WSAENOTSOCK);
        return -1;
    }
    if (!FTls || FHandshaking) return FSocket->Send(Buffer, Count);
    int done = 0;
    const TTlsStatus status = FTls->Write(Buffer, Count, done);
    if (status == tlsOk) return done;
    if (status == tlsWantRead) FTlsWriteNeedsRead = true;
    // The writer keeps the bytes and offers them again, as OpenSSL wants after a retry.
    SetSockLastError(TlsFailure(status));
    return -1;
}

int TSockTransport::TlsFailure(TTlsStatus Status)
{
    switch (Status) {
    case tlsWantRead:
    case tlsWantWrite: return WSAEWOULDBLOCK;
    case tlsClosed: return WSAECONNRESET;
    default:
        if (FTls && FTls->SystemError()) return SocketErrorFromErrno(FTls->SystemError());
        return FTlsRawError && FTlsRawError != WSAEWOULDBLOCK ? FTlsRawError : WSAECONNABORTED;
    }
}

void TSockTransport::AdvanceHandshake()
{
    if (!FTls) return;
    FHandshakeStatus = FTls->Handshake();
    // Kept here: a close notice in the same round of events drops the channel.
    if (FHandshakeStatus == tlsError) FHandshakeError = FTls->ErrorText();
}

void TSockTransport::StartTls(const TTlsSettings& Settings)
{
    Status(4, "Starting TLS");
    if (!Connected() || !FSocket) throw ESockError(TextClosed);
    // The raw bytes take the socket's own Recv/Send, which re-enable its notifications;
    // the channel reads errno, so the socket's error is handed over through it.
    TTlsChannel::TRawIo io{[this](void* Buffer, int Count) {
                               const int n = FSocket ? FSocket->Recv(Buffer, Count) : -1;
                               if (n < 0) FTlsRawError = FSocket ? SockLastError() : WSAENOTSOCK;
                               if (n < 0) errno = FTlsRawError == WSAEWOULDBLOCK ? EAGAIN : ECONNRESET;
                               return n;
                           },
                           [this](const void* Buffer, int Count) {
                               const int n = FSocket ? FSocket->Send(Buffer, Count) : -1;
                               if (n < 0) FTlsRawError = FSocket ? SockLastError() : WSAENOTSOCK;
                               if (n < 0) errno = FTlsRawError == WSAEWOULDBLOCK ? EAGAIN : ECONNRESET;
                               return n;
                           }};
    try {
        FTls = std::make_unique<TTlsChannel>(Settings, std::move(io));
    } catch (...) {
        // After a go-ahead to STARTTLS the server reads only TLS: nothing else may follow.
        RequestCloseSocket();
        throw;
    }
    FTlsRawError = 0;
    FTlsReadNeedsWrite = FTlsWriteNeedsRead = false;
    // Bytes the server sent before the handshake would be plaintext injected in front of
    // the encrypted conversation (RFC 3207 §6): they are dropped.
    FInBuffer->Clear();
    FScanned = 0;
    FHandshaking = true;
    FHandshakeError.clear();
    AdvanceHandshake();
    using Clock = std::chrono::steady_clock;
    const bool limited = FReplyTimeOut > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? FReplyTimeOut : 0);
    std::string failure;
    while (FHandshakeStatus == tlsWantRead || FHandshakeStatus == tlsWantWrite) {
        if (FCancelRequested) {
            failure = "TLS handshake aborted";
            break;
        }
        if (!Connected()) {
            FHandshakeStatus = tlsClosed;
            break;
        }
        if (limited && Clock::now() >= deadline) {
            failure = "TLS handshake timed out";
            break;
        }
        SleepAndProcessMessages();
    }
    FHandshaking = false;
    if (failure.empty() && FHandshakeStatus == tlsOk && FTls) {
        TProtocolLog::Note("-- TLS established, server certificate SHA-256 " + FTls->PeerFingerprint());
        // Application data may already sit in the channel; the reader must look.
        PostToSelf(ReadMoreMessage);
        return;
    }
    if (failure.empty())
        failure = FHandshakeError.empty() ? std::string("Connection closed during the TLS handshake") : FHandshakeError;
    TProtocolLog::Note("-- " + failure);
    FTls.reset();  // no close_notify: nothing more goes to a server that failed its check
    RequestCloseSocket();
    if (FCancelRequested) throw EAbortError(failure);
    throw ESockError(failure);
}

void TSockTransport::EndTls()
{
    if (!FTls) return;
    if (!FHandshaking) FTls->Shutdown();
    FTls.reset();
    FHandshaking = false;
    FTlsReadNeedsWrite = FTlsWriteNeedsRead = false;
}

// Marks the reader or the writer as running. A notification that came meanwhile (from a
// handler that processed events) is run again once the engine is done: the socket does
// not repeat a read notification before the next recv, nor a write notification before
// a send that would block, so a dropped one would leave a wait hanging.
class TSockTransport::TIoScope {
public:
    explicit TIoScope(TSockTransport& T) : FT(T) { FT.FIoBusy = true; }
    ~TIoScope()
    {
        FT.FIoBusy = false;
        if (!FT.FNotifyWindow) return;
        if (FT.FReadDeferred) {
            FT.FReadDeferred = false;
            FT.PostToSelf(ReadMoreMessage);
        }
        if (FT.FWriteDeferred) {
            FT.FWriteDeferred = false;
            FT.PostToSelf(WriteMoreMessage);
        }
    }
    TIoScope(const TIoScope&) = delete;
    TIoScope& operator=(const TIoScope&) = delete;

private:
    TSockTransport& FT;
};

// The reader: one recv into InBuffer per notification.
void TSockTransport::ReadToStream()
{
    if (FCancelRequested) {
        if (FSocket) FSocket->Select(FNotifyWindow.get(), SocketEventMessage, FSocketTag, 0);
        if (AbortNotify) AbortNotify(this);
    }
    if (FIoBusy) {
        FReadDeferred = true;
        return;
    }
    if (FInBuffer->Size() > MaxUnreadInput) {
        FReadPaused = true;
        return;
    }
    bool received = false;
    {
        TIoScope busy(*this);
        Status(8, "ReadToStream");
        char buf[SockChunkSize];
        FInBuffer->Seek(0, soFromEnd);
        const int n = SocketRecv(buf, SockChunkSize);
        if (n < 0 && FTls && SockLastError() == WSAEWOULDBLOCK) {
            // A part of a TLS record: the rest brings another notification.
        } else if (n < 0) {
            FLastError = SockLastError();
            std::string text;
            LookupErrorMessage(static_cast<uint16_t>(FLastError), text);
            if (OnError) OnError(this, static_cast<uint16_t>(FLastError), text);
        } else {
            received = true;
            if (n > 0) FInBuffer->WriteBuffer(buf, n);
            if (FStreamTransfer) {
                FBytesReceived += n;
                if (OnPacketRecvd) OnPacketRecvd(this);
            }
            if (n == SockChunkSize) PostToSelf(ReadMoreMessage);
        }
        // The server's close_notify ends the connection as its close would.
        if (n == 0 && FTls) {
            SetState(TConnectionState::Idle);
            RequestCloseSocket();
        }
    }
    if (received && OnDataReceived) OnDataReceived(this);
}

// The writer: hands OutBuffer to the socket chunk after chunk until it would block, all
// is sent, or a bounded number of chunks went out; then a posted message carries on, so
// a fast peer cannot keep the event loop (Stop, repaints) waiting for the whole stream.
void TSockTransport::WriteFromStream()
{
    if (FIoBusy) {
        FWriteDeferred = true;
        return;
    }
    TIoScope busy(*this);
    // A handler's exception must not stop the writer: its later runs come through the
    // dispatch, which drops them, and the first run may not differ.
    try {
        Status(8, "WriteFromStream");
    } catch (...) {
    }
    constexpr int ChunksPerRun = 64;
    // A stream goes to the socket several chunks per call, which saves most of the system
    // calls; each chunk of it is still counted and reported on its own.
    const int chunksPerSend = FStreamTransfer ? StreamChunksPerSend : 1;
    for (int round = 0; round < ChunksPerRun;) {
        // A progress handler may have cancelled.
        if (FCancelRequested) return;
        if (OutPending() <= 0) RefillFromSource();
        const int64_t pending = OutPending();
        if (pending <= 0) return;
        const int count = static_cast<int>(std::min<int64_t>(pending, int64_t{chunksPerSend} * SockChunkSize));
        const char* data = FOutView ? FOutView : FOutBuffer->Memory();
        const int sent = SocketSend(data + FOutOffset, count);
        if (sent < 0) {
            FLastError = SockLastError();
            // Would-block: bytes stay queued and the socket's next write notification runs
            // us again. Any other failure brings no notification at all: the wait must end.
            if (FLastError != WSAEWOULDBLOCK) FSendError = FLastError;
            return;
        }
        // Sent bytes are skipped rather than the tail moved each time (that would make a
        // large transfer quadratic).
        FOutOffset += sent;
        if (OutPending() <= 0) {
            FOutView = nullptr;
            FOutViewSize = 0;
            FOutBuffer->Clear();
            FOutOffset = 0;
        }
        const bool done = OutPending() == 0 && FSourceLeft == 0;
        if (done) FSendDone = true;
        int unreported = sent;
        do {
            const int chunk = std::min(unreported, SockChunkSize);
            unreported -= chunk;
            ++round;
            // Past 2 GiB the counter stays at its top rather than wrapping to a negative count.
            FBytesSent = static_cast<int32_t>(std::min<int64_t>(int64_t{FBytesSent} + chunk, INT32_MAX));
            if (FStreamTransfer && OnPacketSent) {
                try {
                    OnPacketSent(this);
                } catch (...) {
                }
            }
        } while (unreported > 0);
        if (done) return;
    }
    PostToSelf(WriteMoreMessage);
}

// A stream goes out a window at a time, refilled as it drains, so a large body is neither
// copied whole nor held twice.
void TSockTransport::RefillFromSource()
{
    if (!FSendSource || FSourceLeft <= 0) return;
    FOutBuffer->Clear();
    FOutOffset = 0;
    // A plain in-memory stream goes out from its own memory: no copy. (A descendant may
    // read otherwise, so it is read like any stream.)
    if (typeid(*FSendSource) == typeid(TMemoryStream)) {
        auto& memory = static_cast<TMemoryStream&>(*FSendSource);
        const int64_t at = memory.Position();
        FOutViewSize = std::min(FSourceLeft, memory.Size() - at);
        FOutView = FOutViewSize > 0 ? memory.Memory() + at : nullptr;
        memory.Seek(FOutViewSize, soFromCurrent);
        FSourceLeft = 0;
        return;
    }
    // Any other stream is read into a window of our own, reused from refill to refill and
    // sent from where it is like a memory stream's bytes.
    constexpr int64_t Window = 16 * SockChunkSize;
    if (!FWindow) FWindow = std::make_unique_for_overwrite<char[]>(Window);
    const int64_t n = std::min(FSourceLeft, Window);
    try {
        FSendSource->ReadBuffer(FWindow.get(), n);
        FOutView = FWindow.get();
        FOutViewSize = n;
        FSourceLeft -= n;
    } catch (...) {
        FSourceLeft = 0;
        FSourceError = std::current_exception();
    }
}

// ---------------------------------------------------------------- time-out

void TSockTransport::TimerOn()
{
    Status(8, "Timer On");
    FTimedOut = false;
    FTimer->SetInterval(static_cast<uint32_t>(std::max(FTimeOut, 0)));
    FTimer->SetEnabled(true);
}

void TSockTransport::TimerOff()
{
    Status(8, "Timer Off");
    FTimer->SetEnabled(false);
}

void TSockTransport::TimerTriggered(TObject*)
{
    Status(8, "Timer Triggered");
    TimerOff();
    FTimedOut = true;
    Cancel();
}

// ---------------------------------------------------------------- connection

void TSockTransport::Cancel()
{
    Status(8, "Canceling");
    SetCancelRequested(true);
}

void TSockTransport::StartLookup(const std::string& Name)
{
    const uintptr_t tag = ++GNextTag;
    FLookupTag = tag;
    FLookupAddress = 0;
    if (Name.size() > MaxHostNameLength) {
        FNotifyWindow->Post(LookupDoneMessage, tag, MakeSelectReply(0, WSAHOST_NOT_FOUND));
        return;
    }
    TMessageTarget* target = FNotifyWindow.get();
    StartHostLookup(Name, target, [this, target, tag](int Error, uint32_t Addr) {
        if (tag == FLookupTag) FLookupAddress = Addr;
        target->Post(LookupDoneMessage, tag, MakeSelectReply(0, static_cast<uint16_t>(Error)));
    });
}

void TSockTransport::ResolveHost()
{
    Status(8, "Resolve Host");
    const std::string name = FHost.substr(0, FHost.find('\0'));
    if (name.size() <= MaxHostNameLength) {
        const in_addr_t addr = ::inet_addr(name.c_str());
        if (addr != INADDR_NONE) {
            FPeerAddress = addr;
            return;
        }
    }
    FPeerAddress = 0;
    TimerOn();
    FLookupDone = false;
    StartLookup(name);
    while (!FLookupDone && !FTimedOut && !FCancelRequested) SleepAndProcessMessages();
    TimerOff();
    FLookupTag = 0;  // a late completion is ignored from now on
    if (FTimedOut) throw ESockError("Host Lookup Timed Out");
    if (FCancelRequested) throw ESockError("Host Lookup Canceled");
    if (!FLastEventOk) throw ESockError("Host Lookup Failed");
    FPeerAddress = FLookupAddress;
    if (OnHostResolved) OnHostResolved(this);
}

void TSockTransport::Connect()
{
    Status(8, "Connecting");
    SetCancelRequested(false);
    if (Connected()) throw ESockError("Already connected");
    ResetBuffers();
    EnsureSocket();
    int tries = 0;
    for (;;) {
        try {
            ResolveHost();
        } catch (const ESockError&) {
            // A time-out or cancel ends Connect; only a failed lookup asks the handler.
            if (FTimedOut || FCancelRequested) throw;
            FPeerAddress = 0;
        }
        if (FPeerAddress != 0) break;
        if (tries >= 1 || !OnInvalidHost) throw ESockError("Null Remote Address");
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled) throw ESockError("Null Remote Address");
        ++tries;
    }
    FPeerPort = static_cast<uint16_t>(FPort & 0xFFFF);
    FLookupDone = false;
    FLastEventOk = true;
    if (FSocket->Connect(FPeerAddress, FPeerPort) != 0) {
        std::string text;
        ErrorManager(WSAEWOULDBLOCK, text);
    }
    SetState(TConnectionState::Connecting);
    TimerOn();
    while (!Connected() && !FTimedOut && !FCancelRequested && FLastEventOk) SleepAndProcessMessages();
    TimerOff();
    if (!FTimedOut && !FCancelRequested && FLastEventOk) return;
    if (FTimedOut || FCancelRequested) WithdrawConnect();
    SetState(TConnectionState::Idle);
    if (OnConnectionFailed) OnConnectionFailed(this);
    if (FTimedOut) throw ESockError("Connection Timed out");
    if (FCancelRequested) throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TSockTransport::ResetBuffers()
{
    EndTls();
    FInBuffer->Clear();
    FScanned = 0;
    DiscardOutput();
    FSendError = 0;
    FReadPaused = false;
}

void TSockTransport::WithdrawConnect()
{
    EndTls();
    if (FSocket) FSocket->Close();
    OpenSocket(false);  // a failure here is met by EnsureSocket at the next Connect
}

void TSockTransport::EnsureSocket()
{
    if (FSocket && FSocket->IsOpen()) return;
    if (!OpenSocket(false)) RaiseSocketError(SockLastError());
}

void TSockTransport::RaiseSocketError(int Number)
{
    FLastError = Number;
    std::string text;
    LookupErrorMessage(static_cast<uint16_t>(Number), text);
    if (OnError) OnError(this, static_cast<uint16_t>(Number), text);
    throw ESockError(text);
}

void TSockTransport::PostToSelf(uint32_t Msg)
{
    if (FNotifyWindow) FNotifyWindow->Post(Msg, FSocketTag, 0);
}

void TSockTransport::Disconnect()
{
    Status(8, "Disconnecting");
    RequestCloseSocket();
}

void TSockTransport::RequestCloseSocket()
{
    Status(4, "Request Close Socket");
    SetState(TConnectionState::Idle);
    // Bytes queued for this connection can never reach its peer; they must not open
    // the next conversation.
    DiscardOutput();
    EndTls();
    if (!FSocket || !FSocket->IsOpen()) return;
    if (FSocket->Close() != 0) {
        std::string text;
        ErrorManager(WSAEWOULDBLOCK, text);
        return;
    }
    if (OnDisconnect && !FDestroying) OnDisconnect(this);
    if (!FShuttingDown) OpenSocket(false);
}

void TSockTransport::RequireConnection()
{
    int passes = 0;
    while (!Connected()) {
        if (passes >= 1 || !OnConnectionRequired) throw Exception("Not Connected");
        bool handled = false;
        OnConnectionRequired(handled);
        if (!handled) throw Exception("Not Connected");
        ++passes;
    }
}

int TSockTransport::Accept()
{
    while (!FLookupDone && !FCancelRequested) SleepAndProcessMessages();
    if (FCancelRequested) throw ESockError("Accepting Canceled");
    if (!FLastEventOk) throw ESockError("Error creating Data Connection");
    Status(4, "Accepting");
    uint32_t addr = 0;
    uint16_t port = 0;
    const int fd = FSocket ? FSocket->Accept(addr, port) : -1;
    if (fd >= 0) {
        FPeerAddress = addr;
        FPeerPort = port;
    }
    if (FCancelRequested) {
        SetCancelRequested(false);
        if (fd >= 0) ::close(fd);
        throw EAbortError("Socket send aborted");
    }
    return fd;
}

// ---------------------------------------------------------------- sending

void TSockTransport::QueueOutput(const char* Data, int64_t Count, bool LineEnd)
{
    DetachView();
    FOutBuffer->Seek(0, soFromEnd);
    const int64_t Start = FOutBuffer->Size();
    FOutBuffer->WriteBuffer(Data, Count);
    if (LineEnd) FOutBuffer->WriteBuffer("\r\n", 2);
    if (FLogShown)
        TProtocolLog::Note("C: " + *FLogShown);
    else
        TProtocolLog::Lines("C: ", FOutBuffer->Memory() + Start, static_cast<size_t>(FOutBuffer->Size() - Start));
    FSendDone = false;
    KickWriter();
}

// The caller waits next, so the writer may as well run now; inside the reader's or the
// writer's own handlers it cannot, and the message takes it there later.
void TSockTransport::KickWriter()
{
    if (FIoBusy)
        PostToSelf(WriteMoreMessage);
    else
        WriteFromStream();
}

void TSockTransport::DetachView()
{
    if (!FOutView) return;
    const char* rest = FOutView + FOutOffset;
    const int64_t n = FOutViewSize - FOutOffset;
    FOutView = nullptr;
    FOutViewSize = 0;
    FOutBuffer->Clear();
    FOutOffset = 0;
    FOutBuffer->WriteBuffer(rest, n);
}

void TSockTransport::DiscardOutput()
{
    FOutView = nullptr;
    FOutViewSize = 0;
    FOutBuffer->Clear();
    FOutOffset = 0;
    FSourceLeft = 0;
}

// Waits until the writer has handed everything to the socket, a cancel, or the end of
// the connection. A peer that stops reading would hold the wait for ever, so with
// ReplyTimeOut set, no byte going out for that long ends it and the connection: the
// unsent rest would otherwise open the next command.
void TSockTransport::WaitForOutput()
{
    using Clock = std::chrono::steady_clock;
    const bool limited = FReplyTimeOut > 0;
    const auto limit = std::chrono::milliseconds(limited ? FReplyTimeOut : 0);
    Clock::time_point deadline = Clock::now() + limit;
    int32_t lastSent = FBytesSent;
    while (!FSendDone && !FCancelRequested) {
        if (FSourceError) {
            const std::exception_ptr e = FSourceError;
            FSourceError = nullptr;
            DiscardOutput();
            std::rethrow_exception(e);
        }
        if (FSendError) {
            const int number = FSendError;
            FSendError = 0;
            RequestCloseSocket();
            // A peer that closed or reset is the same end as one the reader found.
            if (ConnectionGone(number)) throw ESockError(TextClosed);
            RaiseSocketError(number);
        }
        if (!Connected()) {
            DiscardOutput();
            throw ESockError(TextClosed);
        }
        if (limited) {
            if (FBytesSent != lastSent) {
                lastSent = FBytesSent;
                deadline = Clock::now() + limit;
            } else if (Clock::now() >= deadline) {
                RequestCloseSocket();
                throw ESockError("Send Timed out");
            }
        }
        SleepAndProcessMessages();
    }
}

void TSockTransport::SendBuffer(const void* Buffer, size_t Count)
{
    const char* data = static_cast<const char*>(Buffer);
    Send(data, Count == 0 ? std::strlen(data) : Count, false);
}

void TSockTransport::Send(const char* Data, size_t Count, bool LineEnd)
{
    Status(4, "Sending Buffer");
    if (FCancelRequested) return;
    if (Count == 0 && !LineEnd) return;  // nothing to wait for
    QueueOutput(Data, static_cast<int64_t>(Count), LineEnd);
    WaitForOutput();
    if (FCancelRequested) {
        SetCancelRequested(false);
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::Write(const std::string& Text)
{
    Status(8, "Write");
    Send(Text.data(), std::strlen(Text.c_str()), false);
}

void TSockTransport::Writeln(const std::string& Text)
{
    Status(8, "Writeln");
    // The line always ends, even when the text stops at a NUL.
    Send(Text.data(), std::strlen(Text.c_str()), true);
}

void TSockTransport::WritelnHidden(const std::string& Text, const std::string& Shown)
{
    struct TShown {
        const std::string*& Slot;
        ~TShown() { Slot = nullptr; }
    } restore{FLogShown};
    FLogShown = &Shown;
    Writeln(Text);
}

void TSockTransport::SendStream(TStream& Stream)
{
    FStreamTransfer = true;
    Status(8, "SendStream");
    try {
        if (!FCancelRequested) {
            Stream.SetPosition(0);
            Status(8, "SendFile");
            FBytesSent = 0;
            const int64_t size = Stream.Size();
            FBytesTotal = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
            if (size > 0) {
                struct TSourceGuard {
                    TSockTransport& T;
                    ~TSourceGuard()
                    {
                        // What a cancel left unsent stays queued, in our own buffer.
                        T.DetachView();
                        T.FSendSource = nullptr;
                        T.FSourceLeft = 0;
                        T.FSourceError = nullptr;
                    }
                } guard{*this};
                TProtocolLog::Note("C: [" + std::to_string(size) + " bytes of stream data]");
                // The chunks go out as full segments while the stream lasts (with
                // TCP_NODELAY each send would be a packet of its own); the rest is
                // pushed when it ends.
                struct TCork {
                    TSockTransport& T;
                    const int Fd;
                    explicit TCork(TSockTransport& Owner) : T(Owner), Fd(Owner.SocketHandle()) { Set(1); }
                    // A socket opened in its place starts uncorked anyway.
                    ~TCork()
                    {
                        if (T.SocketHandle() == Fd) Set(0);
                    }
                    void Set(int On) const
                    {
                        if (Fd >= 0) ::setsockopt(Fd, IPPROTO_TCP, TCP_CORK, &On, sizeof On);
                    }
                } cork{*this};
                FSendSource = &Stream;
                FSourceLeft = size;
                FSourceError = nullptr;
                FSendDone = false;
                KickWriter();
                WaitForOutput();
            }
        }
    } catch (...) {
        FStreamTransfer = false;
        if (FCancelRequested) {
            SetCancelRequested(false);
            throw EAbortError("Socket send aborted");
        }
        throw;
    }
    FStreamTransfer = false;
    if (FCancelRequested) {
        SetCancelRequested(false);
        throw EAbortError("Socket send aborted");
    }
}

// ---------------------------------------------------------------- receiving

bool TSockTransport::FindLineEnd(int64_t& LfIndex)
{
    const int64_t size = FInBuffer->Size();
    if (FScanned > size) FScanned = 0;  // emptied by a handler meanwhile
    if (FScanned >= size) return false;
    const char* base = FInBuffer->Memory();
    const void* lf = std::memchr(base + FScanned, '\n', static_cast<size_t>(size - FScanned));
    if (!lf) {
        FScanned = size;
        return false;
    }
    LfIndex = static_cast<const char*>(lf) - base;
    return true;
}

void TSockTransport::ConsumeInput(int64_t Count)
{
    const int64_t size = FInBuffer->Size();
    if (Count >= size) {
        FInBuffer->Clear();
    } else {
        FInSpare->Clear();
        FInSpare->WriteBuffer(FInBuffer->Memory() + Count, size - Count);
        FInBuffer->Clear();
        std::swap(FInBuffer, FInSpare);
    }
    FScanned = 0;
    ResumeReading();
}

void TSockTransport::ResumeReading()
{
    if (FReadPaused && FInBuffer->Size() <= MaxUnreadInput) {
        FReadPaused = false;
        PostToSelf(ReadMoreMessage);
    }
}

void TSockTransport::ReadLn(std::string& Line)
{
    Status(8, "ReadLn");
    using Clock = std::chrono::steady_clock;
    const bool limited = FReplyTimeOut > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? FReplyTimeOut : 0);
    // The buffer is open to descendants, so what an earlier scan learnt may be stale.
    FScanned = 0;
    int64_t lf = -1;
    bool found = false;
    for (;;) {
        if ((found = FindLineEnd(lf))) break;
        if (FInBuffer->Size() > MaxReplyLineLength) throw ESockError("Reply line too long");
        if (!Connected()) break;
        if (limited && Clock::now() >= deadline) {
            if (FCancelRequested) break;
            throw ESockError("Reply Timed out");
        }
        ResumeReading();  // a descendant may have emptied the buffer meanwhile
        SleepAndProcessMessages();
        if (FCancelRequested) break;
    }
    if (FCancelRequested) throw EAbortError("Socket readln aborted");
    if (!found) throw ESockError(TextClosed);
    if (lf + 1 > MaxReplyLineLength) throw ESockError("Reply line too long");
    Line.assign(FInBuffer->Memory(), static_cast<size_t>(lf + 1));
    TProtocolLog::Lines("S: ", Line.data(), Line.size());
    ConsumeInput(lf + 1);
    FInBuffer->Seek(0, soFromEnd);
}

void TSockTransport::Transaction(const std::string& Command, std::string& Reply)
{
    Status(8, "Transaction");
    FReplyCode = 0;
    Writeln(Command);
    std::string line;
    ReadLn(line);
    FLastReply = line;
    if (!FLastReply.empty()) {
        Status(1, FLastReply);
        const TReplyLine parsed = ParseReplyLine(FLastReply);
        if (parsed.HasCode) FReplyCode = parsed.Code;
    }
    Reply = FLastReply;
}
