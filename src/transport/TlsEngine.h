#pragma once
// TTlsEngine: the TLS work behind TTlsChannel, done by the TLS module (OpenSSL), which the
// channel loads when the first one is made, so that a program that makes no TLS connection
// never loads OpenSSL. Internal to the transport; the module is built from the same tree
// as the programs that load it, so C++ types may cross between them.
//
// The steps and the queries mean what TTlsChannel's of the same names mean; none raises.
#include <cstdint>
#include <functional>
#include <string>

struct TTlsSettings {
    std::string Host;         // the name asked for: SNI and name check (an IP: address check)
    std::string CAFile;       // PEM file of trusted CAs; empty: the system's trust store
    std::string Fingerprint;  // SHA-256 of the leaf, hex, colons optional; replaces the checks
};

enum TTlsStatus : uint8_t {
    tlsOk,         // done (Read / Write: Count bytes moved, at least one)
    tlsWantRead,   // call again after the next read notification
    tlsWantWrite,  // call again after the next write notification
    tlsClosed,     // the peer ended the connection (close_notify or end of stream)
    tlsError,      // failed for good: see ErrorText() and SystemError()
};

// Raw bytes under TLS, with the results of recv / send on a non-blocking socket: a
// count (0 from Recv: end of stream), or -1 with errno set (EAGAIN: nothing now).
struct TTlsRawIo {
    std::function<int(void* Buffer, int Count)> Recv;
    std::function<int(const void* Buffer, int Count)> Send;
};

class TTlsEngine {
public:
    virtual ~TTlsEngine() = default;
    virtual TTlsStatus Handshake() = 0;
    virtual bool Established() const = 0;
    virtual TTlsStatus Read(void* Buffer, int Count, int& Done) = 0;
    virtual TTlsStatus Write(const void* Buffer, int Count, int& Done) = 0;
    virtual TTlsStatus Shutdown() = 0;
    virtual const std::string& ErrorText() const = 0;
    virtual int SystemError() const = 0;
    virtual const std::string& PeerFingerprint() const = 0;
};

// The module's one export, looked up by this name. Settings come checked: Fingerprint is
// empty or normalized (TTlsChannel::NormalizeFingerprint), and without it Host is set. Returns
// a new engine, or nullptr with Error saying why the settings cannot be used.
using TTlsEngineFactory = TTlsEngine* (*)(const TTlsSettings& Settings, TTlsRawIo& Io, std::string& Error);
inline constexpr char TlsEngineFactoryName[] = "QuillcastNewTlsEngine";
