#pragma once
// TSockTransport: the TCP client component under the SMTP and news clients. All socket
// work is notification-driven on the calling (user-interface) thread: an operation that
// looks blocking (Connect, ResolveHost, SendBuffer, ReadLn, SendStream) starts its step
// and then waits, processing events, until the awaited notification, a time-out or a
// Cancel. Handlers therefore run in the middle of operations.
//
// Raises ESockError / EAbortError (transport/SockErrors.h); RequireConnection raises the
// general Exception "Not Connected". A wait for a line, for sending or for a stream ends
// with ESockError "Connection closed" when the connection is gone and the wait cannot be
// satisfied from what is already buffered.
//
// With the environment variable QUILLCAST_LOG naming a file, the conversation is
// appended to it as "C: " (sent) and "S: " (read) lines.
//
// StartTls puts a TLS channel under the connection's bytes (the SocketRecv/SocketSend
// seam); from then on every read and write of the connection goes through it.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "base/Component.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "transport/ReplyLine.h"
#include "transport/SockErrors.h"
#include "transport/TlsChannel.h"

class TAsyncSocket;
class TMessageTarget;
class TThreadTimer;

// Messages of the notification target.
enum : uint32_t {
    SocketEventMessage = 1125,  // WParam: socket tag; LParam: event | error << 16
    LookupDoneMessage = 1126,   // WParam: lookup tag; LParam: error << 16
    WriteMoreMessage = 1127,
    ReadMoreMessage = 1128,
};

// Largest recv / send of the reader and the writer. A stream transfer goes out up to
// StreamChunksPerSend chunks per send, still counted and reported chunk by chunk: the
// kernel takes what the socket has room for, so a large send only saves system calls and
// wake-ups (a memory stream moved about a tenth faster than with 64 KiB sends).
constexpr int SockChunkSize = 16383;
constexpr int StreamChunksPerSend = 256;
// A reply line that grows past this without a LF is refused ("Reply line too long").
constexpr int64_t MaxReplyLineLength = 1 << 20;
// While more than this waits unread in InBuffer the socket is not read (TCP then holds
// the server back); reading resumes once it is consumed.
constexpr int64_t MaxUnreadInput = 1 << 20;

// Where the connection stands. It changes only through TSockTransport::SetState.
enum class TConnectionState { Idle, Connecting, Connected };

// The N-th (from 1) field of Text split at Delimiter; "" when there are fewer fields.
std::string NthField(const std::string& Text, char Delimiter, int N);

class TSockTransport : public TComponent {
public:
    explicit TSockTransport(TComponent* AOwner = nullptr);  // ESockError on set-up failure
    ~TSockTransport() override;

    // ---- events (called only when set)
    TNotifyEvent OnDataReceived;     // after each read that did not fail
    TNotifyEvent OnAccept;           // accept notification
    TNotifyEvent OnConnect;          // the connect notification reported success
    TNotifyEvent OnDisconnect;       // the socket was closed (not while destroying)
    TOnErrorEvent OnError;           // socket error number and text
    THandlerEvent OnInvalidHost;     // host did not resolve; may set a new Host, once
    TOnHostResolved OnHostResolved;  // a name lookup succeeded (not for dotted hosts)
    THandlerEvent OnConnectionRequired;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;  // a connect attempt failed, before the exception
    TNotifyEvent OnPacketRecvd;       // data received during a stream transfer
    TNotifyEvent OnPacketSent;        // a chunk of a stream transfer was sent
    TNotifyEvent AbortNotify;         // descendant's hook: the reader found a cancel

    // ---- published properties
    const std::string& Host() const { return FHost; }
    void SetHost(const std::string& Value) { FHost = Value; }
    int Port() const { return FPort; }
    void SetPort(int Value) { FPort = Value; }
    // Lookup and connect time-out in ms; 0 or negative: no limit.
    int TimeOut() const { return FTimeOut; }
    void SetTimeOut(int Value) { FTimeOut = Value; }
    int ReportLevel() const { return FReportLevel; }
    void SetReportLevel(int Value) { FReportLevel = Value; }
    // Longest wait of ReadLn in ms; 0 or negative: none. Past it: "Reply Timed out".
    // A send wait in which no byte goes out for that long closes the connection and
    // raises "Send Timed out".
    int ReplyTimeOut() const { return FReplyTimeOut; }
    void SetReplyTimeOut(int Value) { FReplyTimeOut = Value; }

    // ---- state
    bool Connected() const { return FState == TConnectionState::Connected; }
    TConnectionState State() const { return FState; }
    int16_t ReplyCode() const { return FReplyCode; }
    const std::string& LastReply() const { return FLastReply; }
    int32_t BytesSent() const { return FBytesSent; }
    int32_t BytesTotal() const { return FBytesTotal; }
    int32_t BytesReceived() const { return FBytesReceived; }
    bool IoBusy() const { return FIoBusy; }
    bool StreamTransfer() const { return FStreamTransfer; }
    bool CancelRequested() const { return FCancelRequested; }
    bool TimedOut() const { return FTimedOut; }
    bool LookupDone() const { return FLookupDone; }
    bool LastEventOk() const { return FLastEventOk; }
    bool SendDone() const { return FSendDone; }
    bool ShuttingDown() const { return FShuttingDown; }
    int32_t LastError() const { return FLastError; }
    const std::string& LastStatus() const { return FLastStatus; }
    const TStringList& WinsockInfo() const { return FWinsockInfo; }
    // Server address (network byte order) and port as last filled by Connect.
    uint32_t PeerAddress() const { return FPeerAddress; }
    uint16_t PeerPort() const { return FPeerPort; }
    // The socket's descriptor; -1 when the component holds none.
    int SocketHandle() const;
    // Reads acknowledge at once while on (for pipelined replies; see TAsyncSocket).
    void SetQuickAck(bool On);
    // Received bytes not yet consumed; its position is at its end.
    TMemoryStream& InBuffer() { return *FInBuffer; }
    // Queued outgoing bytes not yet handed to the socket.
    int64_t OutPending() const;
    // Components that have started the socket layer and not yet released it.
    static int StartupCount();

    // ---- operations
    // Accepts a connection on a listening socket; returns its descriptor.
    virtual int Accept();
    // Empties InBuffer, resolves Host, connects to Port; returns when connected. A
    // connect that times out or is cancelled is withdrawn (the socket is replaced). A
    // connect the socket refuses at once (no local port: 10055) raises its error.
    virtual void Connect();
    // Closes the socket (connected or not) and opens a fresh one.
    virtual void Disconnect();
    // Writeln(Command), then ReadLn(Reply); sets LastReply and ReplyCode.
    virtual void Transaction(const std::string& Command, std::string& Reply);
    // Sets CancelRequested, which ends every wait.
    virtual void Cancel();
    // Returns when Connected; else asks OnConnectionRequired once; else "Not Connected".
    void RequireConnection();
    // Fills the peer address from Host.
    void ResolveHost();
    // Closes the socket, fires OnDisconnect, opens a fresh socket (unless destroying).
    void RequestCloseSocket();

    // Queues Count bytes (Count 0: up to the first NUL) and returns once all queued bytes
    // were handed to the socket. Nothing to send returns at once. With a cancel pending
    // at entry: returns silently; during the wait: EAbortError "Socket send aborted". A
    // send failing other than would-block closes the connection and raises its error.
    // Exceptions of the progress and status handlers are dropped.
    void SendBuffer(const void* Buffer, size_t Count);
    // Sends Text up to its first NUL, whole.
    void Write(const std::string& Text);
    // Writeln for a line that carries a secret: the protocol log shows Shown instead.
    void WritelnHidden(const std::string& Text, const std::string& Shown);
    // Write(Text + CR LF).
    void Writeln(const std::string& Text);
    // The next line up to and including its LF. EAbortError "Socket readln aborted" on a
    // cancel (CancelRequested stays set); ESockError "Reply Timed out" past ReplyTimeOut;
    // "Reply line too long" past MaxReplyLineLength.
    void ReadLn(std::string& Line);
    // Sends all of Stream from its start; OnPacketSent after each chunk. An empty
    // stream returns at once. A cancel (pending or during the wait): "Socket send aborted".
    void SendStream(TStream& Stream);

    // ---- TLS
    // Runs the TLS handshake over the open connection (implicit TLS right after Connect,
    // or after the server's go-ahead to STARTTLS); returns once it is complete and the
    // certificate passed its checks. A failure closes the connection before anything
    // else is sent and raises ESockError with the reason ("Certificate verify failed:
    // …", "TLS handshake failed: …"); past ReplyTimeOut "TLS handshake timed out"; a
    // cancel EAbortError "TLS handshake aborted". A TLS settings error (CA file, pin)
    // raises ESockError before any byte moves.
    void StartTls(const TTlsSettings& Settings);
    // True while the connection runs over TLS.
    bool TlsActive() const { return FTls != nullptr; }
    // The server certificate's SHA-256 fingerprint ("AB:CD:…") once TLS is up; "".
    std::string TlsPeerFingerprint() const { return FTls ? FTls->PeerFingerprint() : ""; }

    // ---- status and errors
    // Reports Text through OnStatus when Level <= ReportLevel.
    void Status(uint8_t Level, std::string_view Text);
    void LookupErrorMessage(uint16_t Number, std::string& Text);
    // Reads the pending socket error; returns with Text empty when every bit of
    // IgnoreValue is set in it, else fires OnError and raises ESockError with its text.
    void ErrorManager(uint16_t IgnoreValue, std::string& Text);

protected:
    // The one place where bytes cross the socket, through the TLS channel once StartTls
    // succeeded. Same results as recv/send: count, 0 at close (recv), -1 with
    // SockLastError() (10035 when the channel waits for the socket).
    virtual int SocketRecv(void* Buffer, int Count);
    virtual int SocketSend(const void* Buffer, int Count);

    // Descendants clear a cancel before their closing command.
    void ClearCancel() { SetCancelRequested(false); }

    void TimerOn();
    void TimerOff();
    void TimerTriggered(TObject* Sender);

private:
    class TIoScope;
    void InitializeWinsock();
    bool OpenSocket(bool First);
    void Dispatch(uint32_t Msg, uintptr_t WParam, intptr_t LParam);
    void HandleSocketEvent(uint16_t Event);
    void ReadToStream();
    void WriteFromStream();
    void DrainSocket();
    void StartLookup(const std::string& Name);
    bool FindLineEnd(int64_t& LfIndex);
    // Appends Count bytes (and CR LF when LineEnd) to OutBuffer and starts the writer.
    void QueueOutput(const char* Data, int64_t Count, bool LineEnd);
    // SendBuffer; with LineEnd, CR LF follows the bytes in the same send (Writeln's line
    // is never built as a string of its own).
    void Send(const char* Data, size_t Count, bool LineEnd);
    void DiscardOutput();
    // Moves the unsent rest of a source's own memory into OutBuffer, before the source
    // may go away or more output is queued behind it.
    void DetachView();
    void WaitForOutput();
    void RefillFromSource();
    void KickWriter();
    void ConsumeInput(int64_t Count);
    // Reading paused on a full InBuffer starts again once it is no longer full.
    void ResumeReading();

    // The connection's state and the cancel flag change only through these.
    void SetState(TConnectionState Value) { FState = Value; }
    void SetCancelRequested(bool Value) { FCancelRequested = Value; }
    // A new conversation starts with nothing left over from the last one.
    void ResetBuffers();
    // Closes a socket whose connect was abandoned and opens a fresh one, so a late
    // notice of it can neither connect nor fail the next attempt.
    void WithdrawConnect();
    // Opens a socket when the component holds none (a re-creation that failed earlier);
    // raises the socket error when that fails again.
    void EnsureSocket();
    // Fires OnError with Number's text and raises ESockError with it.
    [[noreturn]] void RaiseSocketError(int Number);
    void PostToSelf(uint32_t Msg);
    // One handshake step on a socket notification; the wait in StartTls sees the result.
    void AdvanceHandshake();
    // Sends close_notify when it can go out at once, and drops the channel.
    void EndTls();
    int TlsFailure(TTlsStatus Status);

    std::string FHost;
    int FPort = 0;
    int FTimeOut = 0;
    int FReportLevel = 0;
    int FReplyTimeOut = 0;

    TConnectionState FState = TConnectionState::Idle;
    bool FStreamTransfer = false;
    bool FIoBusy = false;
    bool FCancelRequested = false;
    bool FShuttingDown = false;
    bool FLastEventOk = false;
    bool FTimedOut = false;
    bool FLookupDone = false;
    bool FSendDone = false;
    bool FStarted = false;
    bool FDestroying = false;
    bool FReadDeferred = false;  // a read / write notification came while IoBusy
    bool FWriteDeferred = false;
    bool FReadPaused = false;  // InBuffer is full: the socket is not read until consumed

    int32_t FBytesSent = 0;
    int32_t FBytesTotal = 0;
    int32_t FBytesReceived = 0;
    int32_t FLastError = 0;
    std::string FLastStatus;
    std::string FLastReply;
    int16_t FReplyCode = 0;
    TStringList FWinsockInfo;

    uint32_t FPeerAddress = 0;
    uint16_t FPeerPort = 0;
    uint32_t FLookupAddress = 0;
    uintptr_t FLookupTag = 0;
    uintptr_t FSocketTag = 0;
    int64_t FOutOffset = 0;           // first unsent byte of OutBuffer
    int64_t FScanned = 0;             // InBuffer bytes known to hold no LF
    TStream* FSendSource = nullptr;   // the stream SendStream is sending
    int64_t FSourceLeft = 0;          // its bytes not yet read
    const char* FOutView = nullptr;   // the source's bytes, sent from where they are: an in-memory
    int64_t FOutViewSize = 0;         // stream's own, or FWindow (OutBuffer is empty meanwhile)
    std::unique_ptr<char[]> FWindow;  // what was last read from a source that is not in memory
    std::exception_ptr FSourceError;
    int32_t FSendError = 0;  // a send failure that ends the connection

    std::unique_ptr<TMemoryStream> FInBuffer, FInSpare, FOutBuffer;
    std::unique_ptr<TMessageTarget> FNotifyWindow;
    std::unique_ptr<TAsyncSocket> FSocket;
    std::unique_ptr<TTlsChannel> FTls;
    bool FHandshaking = false;
    TTlsStatus FHandshakeStatus = tlsOk;
    std::string FHandshakeError;
    int FTlsRawError = 0;                    // the socket error under the channel's last failed raw call
    bool FTlsReadNeedsWrite = false;         // the channel's read waits for a write notification
    bool FTlsWriteNeedsRead = false;         // and its write for a read notification
    const std::string* FLogShown = nullptr;  // what the log shows for the line being sent
    TThreadTimer* FTimer = nullptr;          // owned as a component
};
