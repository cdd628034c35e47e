#pragma once
// TTlsChannel: the client side of TLS (OpenSSL) over an already-connected non-blocking
// socket, for the transport's recv/send seam. Nothing here waits: each step returns at
// once with what it did, or with the socket notification it needs before it can go on
// (tlsWantRead / tlsWantWrite), so the caller waits for the same notifications, Stop
// and time-outs as on a plain socket.
//
// The bytes under TLS go through a raw I/O pair with recv/send results (the socket by
// default; the transport passes its own socket's Recv/Send so that its notifications
// are re-enabled as usual).
//
// The server's certificate is checked against the system's trust store, or a CA file,
// and the host name (or IP address) it was asked for; or, with a pinned SHA-256
// fingerprint, only the leaf certificate's fingerprint is compared. A failed check ends
// the handshake with tlsError and ErrorText() saying why.
//
// The constructor raises ESockError when the settings cannot be used (CA file not
// readable, malformed fingerprint, no host name to check and no pin, no TLS library
// context) or the TLS module cannot be loaded. The steps raise nothing.
//
// OpenSSL lives in the TLS module (TlsEngine.h), loaded when the first channel is made:
// from QUILLCAST_TLS_MODULE when that names a file, else from the installed place beside
// the program, else from the build folder.
#include <memory>
#include <string>

#include "transport/TlsEngine.h"

class TTlsChannel {
public:
    // Raw bytes under TLS (TlsEngine.h).
    using TRawIo = TTlsRawIo;
    static TRawIo SocketIo(int Fd);

    TTlsChannel(const TTlsSettings& Settings, TRawIo Io);
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // Starts or advances the client handshake; tlsOk once it is complete and checked.
    TTlsStatus Handshake();
    bool Established() const;

    // Up to Count decrypted bytes into Buffer. Call it again until it asks for a
    // notification: decrypted bytes may wait inside the channel with none coming.
    TTlsStatus Read(void* Buffer, int Count, int& Done);
    // Encrypts and sends up to Count bytes. After tlsWantWrite, call again with the same
    // bytes at the front (more may follow them).
    TTlsStatus Write(const void* Buffer, int Count, int& Done);
    // Sends close_notify (it does not wait for the peer's); tlsOk once it went out.
    TTlsStatus Shutdown();

    // Why the last step gave tlsError.
    const std::string& ErrorText() const;
    // The errno of a failed raw recv / send behind tlsError; 0 for a TLS failure.
    int SystemError() const;
    // "AB:CD:…" SHA-256 of the server's leaf certificate once it was seen; "" before.
    const std::string& PeerFingerprint() const;

    // 64 upper-case hex digits of a fingerprint as a user may write it (hex, colons
    // optional, any case); "" when it is not one.
    static std::string NormalizeFingerprint(const std::string& Text);

private:
    std::unique_ptr<TTlsEngine> FEngine;
};
