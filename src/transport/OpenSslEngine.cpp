// The TLS module: TTlsEngine on OpenSSL. Only this file uses OpenSSL; it is built as a
// loadable module of its own (see TlsEngine.h for why) that exports the factory alone.
#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "transport/TlsEngine.h"

namespace {

// clang-format off
enum TTlsFailure { tfContext, tfCAFile, tfVerify, tfPin, tfHandshake, tfClosedEarly, tfSocket, tfProtocol };
// clang-format on

// Every text the engine reports; "%s" takes the detail.
const char* const TlsFailureText[] = {
    "TLS is not available: %s",      "Cannot load CA file %s",
    "Certificate verify failed: %s", "Certificate fingerprint mismatch: the server's is %s",
    "TLS handshake failed: %s",      "Connection closed during the TLS handshake",
    "Socket error during TLS: %s",   "TLS error: %s",
};

std::string FailureText(int Reason, const std::string& Detail)
{
    std::string text = TlsFailureText[Reason];
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, Detail);
    return text;
}

std::string LastOpenSslReason()
{
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    return reason ? reason : "unknown error";
}

bool IsIpAddress(const std::string& Host)
{
    unsigned char addr[16];
    return inet_pton(AF_INET, Host.c_str(), addr) == 1 || inet_pton(AF_INET6, Host.c_str(), addr) == 1;
}

std::string Sha256Fingerprint(X509* Cert)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!Cert || X509_digest(Cert, EVP_sha256(), md, &len) != 1) return "";
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        if (i) out += ':';
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

class TOpenSslEngine : public TTlsEngine {
public:
    explicit TOpenSslEngine(TTlsRawIo& Io) : FIo(std::move(Io)) {}
    ~TOpenSslEngine() override;
    // "" once the settings are in place, else why they cannot be used.
    std::string Setup(const TTlsSettings& Settings);

    TTlsStatus Handshake() override;
    bool Established() const override { return FEstablished; }
    TTlsStatus Read(void* Buffer, int Count, int& Done) override;
    TTlsStatus Write(const void* Buffer, int Count, int& Done) override;
    TTlsStatus Shutdown() override;
    const std::string& ErrorText() const override { return FErrorText; }
    int SystemError() const override { return FSystemError; }
    const std::string& PeerFingerprint() const override { return FPeerFingerprint; }

private:
    // OpenSSL reads and writes through this BIO, so the bytes take the caller's raw path.
    static TOpenSslEngine& Of(BIO* Bio) { return *static_cast<TOpenSslEngine*>(BIO_get_data(Bio)); }
    static int BioResult(BIO* Bio, int N, bool Reading);
    static int BioRead(BIO* Bio, char* Buffer, int Count)
    {
        return BioResult(Bio, Of(Bio).FIo.Recv(Buffer, Count), true);
    }
    static int BioWrite(BIO* Bio, const char* Buffer, int Count)
    {
        return BioResult(Bio, Of(Bio).FIo.Send(Buffer, Count), false);
    }
    static long BioCtrl(BIO* Bio, int Cmd, long, void*);
    static BIO_METHOD* BioMethod();
    // Runs instead of OpenSSL's own chain check, so that a pin can replace it.
    static int Verify(X509_STORE_CTX* Store, void* Arg) { return static_cast<TOpenSslEngine*>(Arg)->CheckPin(Store); }

    TTlsStatus Outcome(int Ret);
    bool Begin(TTlsStatus& Status);
    // Read and Write: the handshake first, then Io(Count, moved) moves up to Count bytes
    // through OpenSSL and returns its result.
    template <class TIo>
    TTlsStatus Transfer(int Count, int& Done, TIo Io);
    bool CheckPin(X509_STORE_CTX* Store);
    void Fail(int Reason, const std::string& Detail) { FErrorText = FailureText(Reason, Detail); }

    TTlsRawIo FIo;
    SSL_CTX* FCtx = nullptr;
    SSL* FSsl = nullptr;
    std::string FPin;  // normalized; empty: chain and name checks
    std::string FPeerFingerprint;
    std::string FErrorText;
    int FSystemError = 0;
    bool FRawEnd = false;  // the raw Recv met the end of the stream
    bool FPinFailed = false;
    bool FEstablished = false;
    bool FFailed = false;  // failed or closed: no more steps
};

// A would-block asks OpenSSL to retry; anything else negative is the socket's error.
int TOpenSslEngine::BioResult(BIO* Bio, int N, bool Reading)
{
    BIO_clear_retry_flags(Bio);
    if (N > 0) return N;
    if (N == 0) {
        if (Reading) Of(Bio).FRawEnd = true;
        return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        Reading ? BIO_set_retry_read(Bio) : BIO_set_retry_write(Bio);
    } else {
        Of(Bio).FSystemError = errno;
    }
    return -1;
}

long TOpenSslEngine::BioCtrl(BIO* Bio, int Cmd, long, void*)
{
    if (Cmd == BIO_CTRL_FLUSH) return 1;
    if (Cmd == BIO_CTRL_EOF) return Of(Bio).FRawEnd ? 1 : 0;
    return 0;
}

BIO_METHOD* TOpenSslEngine::BioMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillcast raw");
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_ctrl(m, BioCtrl);
        return m;
    }();
    return method;
}

std::string TOpenSslEngine::Setup(const TTlsSettings& Settings)
{
    FPin = Settings.Fingerprint;
    FCtx = SSL_CTX_new(TLS_client_method());
    if (FCtx) {
        SSL_CTX_set_min_proto_version(FCtx, TLS1_2_VERSION);
        // An SMTP reply is complete at its line end: a server that closes without
        // close_notify cut nothing short, and must not turn a delivery into a failure.
        SSL_CTX_set_options(FCtx, SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(FCtx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(FCtx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(FCtx, Verify, this);
    }
    if (!FCtx) return FailureText(tfContext, LastOpenSslReason());
    if (FPin.empty() &&
        (Settings.CAFile.empty() ? SSL_CTX_set_default_verify_paths(FCtx) != 1
                                 : SSL_CTX_load_verify_locations(FCtx, Settings.CAFile.c_str(), nullptr) != 1))
        return FailureText(tfCAFile, Settings.CAFile.empty() ? "of the system" : Settings.CAFile);
    if (!(FSsl = SSL_new(FCtx))) return FailureText(tfContext, LastOpenSslReason());
    const bool ip = IsIpAddress(Settings.Host);
    if (!ip && !Settings.Host.empty()) SSL_set_tlsext_host_name(FSsl, Settings.Host.c_str());
    if (FPin.empty()) {
        SSL_set_hostflags(FSsl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (ip)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl), Settings.Host.c_str());
        else
            SSL_set1_host(FSsl, Settings.Host.c_str());
    }
    BIO* bio = BIO_new(BioMethod());
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(FSsl, bio, bio);
    SSL_set_connect_state(FSsl);
    return "";
}

TOpenSslEngine::~TOpenSslEngine()
{
    SSL_free(FSsl);
    SSL_CTX_free(FCtx);
}

bool TOpenSslEngine::CheckPin(X509_STORE_CTX* Store)
{
    FPeerFingerprint = Sha256Fingerprint(X509_STORE_CTX_get0_cert(Store));
    if (FPin.empty()) return X509_verify_cert(Store) == 1;
    std::string bare = FPeerFingerprint;
    std::erase(bare, ':');
    FPinFailed = bare != FPin;
    if (FPinFailed) X509_STORE_CTX_set_error(Store, X509_V_ERR_APPLICATION_VERIFICATION);
    return !FPinFailed;
}

// What a step that did not complete means for the caller.
TTlsStatus TOpenSslEngine::Outcome(int Ret)
{
    const int error = SSL_get_error(FSsl, Ret);
    if (error == SSL_ERROR_WANT_READ) return tlsWantRead;
    if (error == SSL_ERROR_WANT_WRITE) return tlsWantWrite;
    const bool ended =
        error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && (FRawEnd || ERR_peek_error() == 0));
    FFailed = true;
    if (FSystemError)
        Fail(tfSocket, std::strerror(FSystemError));
    else if (FPinFailed)
        Fail(tfPin, FPeerFingerprint);
    else if (!FEstablished && SSL_get_verify_result(FSsl) != X509_V_OK)
        Fail(tfVerify, X509_verify_cert_error_string(SSL_get_verify_result(FSsl)));
    else if (!ended)
        Fail(FEstablished ? tfProtocol : tfHandshake, LastOpenSslReason());
    else if (!FEstablished)
        Fail(tfClosedEarly, "");
    ERR_clear_error();
    return FErrorText.empty() ? tlsClosed : tlsError;
}

// An engine that failed or was closed stays so; otherwise OpenSSL's error queue and our
// socket error describe only the step about to run.
bool TOpenSslEngine::Begin(TTlsStatus& Status)
{
    if (FFailed) {
        Status = FErrorText.empty() ? tlsClosed : tlsError;
        return false;
    }
    ERR_clear_error();
    FSystemError = 0;
    return true;
}

TTlsStatus TOpenSslEngine::Handshake()
{
    TTlsStatus status = tlsOk;
    if (FEstablished || !Begin(status)) return status;
    const int ret = SSL_do_handshake(FSsl);
    if (ret != 1) return Outcome(ret);
    FEstablished = true;
    return tlsOk;
}

template <class TIo>
TTlsStatus TOpenSslEngine::Transfer(int Count, int& Done, TIo Io)
{
    Done = 0;
    TTlsStatus status = Handshake();
    if (status != tlsOk || Count <= 0 || !Begin(status)) return status;
    size_t n = 0;
    const int ret = Io(static_cast<size_t>(Count), n);
    if (ret != 1) return Outcome(ret);
    Done = static_cast<int>(n);
    return tlsOk;
}

TTlsStatus TOpenSslEngine::Read(void* Buffer, int Count, int& Done)
{
    return Transfer(Count, Done, [&](size_t Size, size_t& N) { return SSL_read_ex(FSsl, Buffer, Size, &N); });
}

TTlsStatus TOpenSslEngine::Write(const void* Buffer, int Count, int& Done)
{
    return Transfer(Count, Done, [&](size_t Size, size_t& N) { return SSL_write_ex(FSsl, Buffer, Size, &N); });
}

TTlsStatus TOpenSslEngine::Shutdown()
{
    // Before the handshake, or after a failure, there is no session to close politely.
    TTlsStatus status = tlsOk;
    if (!FEstablished || !Begin(status)) return tlsOk;
    const int ret = SSL_shutdown(FSsl);
    if (ret >= 0) return tlsOk;
    status = Outcome(ret);
    return status == tlsClosed ? tlsOk : status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TTlsEngine* QuillcastNewTlsEngine(const TTlsSettings& Settings,
                                                                                    TTlsRawIo& Io, std::string& Error)
{
    auto engine = std::make_unique<TOpenSslEngine>(Io);
    Error = engine->Setup(Settings);
    ERR_clear_error();
    return Error.empty() ? engine.release() : nullptr;
}
static_assert(std::is_same_v<decltype(&QuillcastNewTlsEngine), TTlsEngineFactory>);
