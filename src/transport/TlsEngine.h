#pragma once
// TTlsEngine: the TLS work behind TTlsChannel, done by the TLS module (OpenSSL), which the
// channel loads when the first one is made, so that a program that makes no TLS connection
// never loads OpenSSL. Internal to the transport; the module is built from the same tree
// as the programs that load it, so C++ types may cross between them.
//
// The steps and the queries mean what TTlsChannel's of the same names mean; none raises.
#include <string>

#include "transport/TlsChannel.h"

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
using TTlsEngineFactory = TTlsEngine* (*)(const TTlsSettings& Settings, TTlsChannel::TRawIo& Io, std::string& Error);
inline constexpr char TlsEngineFactoryName[] = "QuillcastNewTlsEngine";
