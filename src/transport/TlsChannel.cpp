#include "transport/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "transport/SockErrors.h"

namespace {

// clang-format off
enum TTlsFailure {
    tfContext, tfCAFile, tfNoHost, tfFingerprint, tfVerify, tfPin, tfHandshake, tfClosedEarly,
    tfSocket, tfProtocol,
};
// clang-format on

// Every text the channel reports; "%s" takes the detail.
const char* const TlsFailureText[] = {
    "TLS is not available: %s",
    "Cannot load CA file %s",
    "No server name to check the certificate against",
    "Invalid certificate fingerprint '%s' (expected the SHA-256 fingerprint in hex)",
    "Certificate verify failed: %s",
    "Certificate fingerprint mismatch: the server's is %s",
    "TLS handshake failed: %s",
    "Connection closed during the TLS handshake",
    "Socket error during TLS: %s",
    "TLS error: %s",
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

}  // namespace

// OpenSSL reads and writes through this BIO, so the bytes take the caller's raw path.
struct TTlsRawBio {
    static TTlsChannel& Channel(BIO* Bio) { return *static_cast<TTlsChannel*>(BIO_get_data(Bio)); }

    // A would-block asks OpenSSL to retry; anything else negative is the socket's error.
    static int Result(BIO* Bio, int N, bool Reading)
    {
        BIO_clear_retry_flags(Bio);
        if (N > 0) return N;
        if (N == 0) {
            if (Reading) Channel(Bio).FRawEnd = true;
            return 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            Reading ? BIO_set_retry_read(Bio) : BIO_set_retry_write(Bio);
        } else {
            Channel(Bio).FSystemError = errno;
        }
        return -1;
    }
    static int Read(BIO* Bio, char* Buffer, int Count)
    {
        return Result(Bio, Channel(Bio).FIo.Recv(Buffer, Count), true);
    }
    static int Write(BIO* Bio, const char* Buffer, int Count)
    {
        return Result(Bio, Channel(Bio).FIo.Send(Buffer, Count), false);
    }
    static long Ctrl(BIO* Bio, int Cmd, long, void*)
    {
        if (Cmd == BIO_CTRL_FLUSH) return 1;
        if (Cmd == BIO_CTRL_EOF) return Channel(Bio).FRawEnd ? 1 : 0;
        return 0;
    }
    static BIO_METHOD* Method()
    {
        static BIO_METHOD* method = [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillcast raw");
            BIO_meth_set_read(m, Read);
            BIO_meth_set_write(m, Write);
            BIO_meth_set_ctrl(m, Ctrl);
            return m;
        }();
        return method;
    }
    // Runs instead of OpenSSL's own chain check, so that a pin can replace it.
    static int Verify(X509_STORE_CTX* Store, void* Arg)
    {
        return static_cast<TTlsChannel*>(Arg)->CheckPin(Store) ? 1 : 0;
    }
};

TTlsChannel::TRawIo TTlsChannel::SocketIo(int Fd)
{
    return {[Fd](void* Buffer, int Count) {
                return static_cast<int>(::recv(Fd, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT));
            },
            [Fd](const void* Buffer, int Count) {
                return static_cast<int>(::send(Fd, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT | MSG_NOSIGNAL));
            }};
}

TTlsChannel::TTlsChannel(const TTlsSettings& Settings, TRawIo Io) : FIo(std::move(Io))
{
    int failure = -1;
    std::string detail;
    FCtx = SSL_CTX_new(TLS_client_method());
    if (FCtx) {
        SSL_CTX_set_min_proto_version(FCtx, TLS1_2_VERSION);
        // An SMTP reply is complete at its line end: a server that closes without
        // close_notify cut nothing short, and must not turn a delivery into a failure.
        SSL_CTX_set_options(FCtx, SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(FCtx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_verify(FCtx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(FCtx, TTlsRawBio::Verify, this);
    }
    if (!FCtx) {
        failure = tfContext;
        detail = LastOpenSslReason();
    } else if (!Settings.Fingerprint.empty()) {
        FPin = NormalizeFingerprint(Settings.Fingerprint);
        if (FPin.empty()) {
            failure = tfFingerprint;
            detail = Settings.Fingerprint;
        }
    } else if (Settings.Host.empty()) {
        failure = tfNoHost;
    } else if (Settings.CAFile.empty() ? SSL_CTX_set_default_verify_paths(FCtx) != 1
                                       : SSL_CTX_load_verify_locations(FCtx, Settings.CAFile.c_str(), nullptr) != 1) {
        failure = tfCAFile;
        detail = Settings.CAFile.empty() ? "of the system" : Settings.CAFile;
    }
    if (failure < 0 && !(FSsl = SSL_new(FCtx))) {
        failure = tfContext;
        detail = LastOpenSslReason();
    }
    if (failure >= 0) {
        SSL_CTX_free(FCtx);
        ERR_clear_error();
        throw ESockError(FailureText(failure, detail));
    }
    const bool ip = IsIpAddress(Settings.Host);
    if (!ip && !Settings.Host.empty()) SSL_set_tlsext_host_name(FSsl, Settings.Host.c_str());
    if (FPin.empty()) {
        SSL_set_hostflags(FSsl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (ip)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl), Settings.Host.c_str());
        else
            SSL_set1_host(FSsl, Settings.Host.c_str());
    }
    BIO* bio = BIO_new(TTlsRawBio::Method());
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(FSsl, bio, bio);
    SSL_set_connect_state(FSsl);
}

TTlsChannel::~TTlsChannel()
{
    SSL_free(FSsl);
    SSL_CTX_free(FCtx);
}

std::string TTlsChannel::NormalizeFingerprint(const std::string& Text)
{
    std::string hex;
    for (char c : Text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return hex.size() == 64 ? hex : "";
}

bool TTlsChannel::CheckPin(void* StoreCtx)
{
    auto* store = static_cast<X509_STORE_CTX*>(StoreCtx);
    FPeerFingerprint = Sha256Fingerprint(X509_STORE_CTX_get0_cert(store));
    if (FPin.empty()) return X509_verify_cert(store) == 1;
    FPinFailed = NormalizeFingerprint(FPeerFingerprint) != FPin;
    if (FPinFailed) X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return !FPinFailed;
}

void TTlsChannel::Fail(int Reason, const std::string& Detail) { FErrorText = FailureText(Reason, Detail); }

// What a step that did not complete means for the caller.
TTlsStatus TTlsChannel::Outcome(int Ret)
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

// A channel that failed or was closed stays so; otherwise OpenSSL's error queue and our
// socket error describe only the step about to run.
bool TTlsChannel::Begin(TTlsStatus& Status)
{
    if (FFailed) {
        Status = FErrorText.empty() ? tlsClosed : tlsError;
        return false;
    }
    ERR_clear_error();
    FSystemError = 0;
    return true;
}

TTlsStatus TTlsChannel::Handshake()
{
    TTlsStatus status = tlsOk;
    if (FEstablished || !Begin(status)) return status;
    const int ret = SSL_do_handshake(FSsl);
    if (ret != 1) return Outcome(ret);
    FEstablished = true;
    return tlsOk;
}

TTlsStatus TTlsChannel::Read(void* Buffer, int Count, int& Done)
{
    Done = 0;
    TTlsStatus status = Handshake();
    if (status != tlsOk || Count <= 0 || !Begin(status)) return status;
    size_t n = 0;
    const int ret = SSL_read_ex(FSsl, Buffer, static_cast<size_t>(Count), &n);
    if (ret != 1) return Outcome(ret);
    Done = static_cast<int>(n);
    return tlsOk;
}

TTlsStatus TTlsChannel::Write(const void* Buffer, int Count, int& Done)
{
    Done = 0;
    TTlsStatus status = Handshake();
    if (status != tlsOk || Count <= 0 || !Begin(status)) return status;
    size_t n = 0;
    const int ret = SSL_write_ex(FSsl, Buffer, static_cast<size_t>(Count), &n);
    if (ret != 1) return Outcome(ret);
    Done = static_cast<int>(n);
    return tlsOk;
}

TTlsStatus TTlsChannel::Shutdown()
{
    // Before the handshake, or after a failure, there is no session to close politely.
    TTlsStatus status = tlsOk;
    if (!FEstablished || !Begin(status)) return tlsOk;
    const int ret = SSL_shutdown(FSsl);
    if (ret >= 0) return tlsOk;
    status = Outcome(ret);
    return status == tlsClosed ? tlsOk : status;
}
