#include "transport/TlsChannel.h"

#include <dlfcn.h>
#include <sys/socket.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "transport/SockErrors.h"
#include "transport/TlsEngine.h"

namespace {

struct TTlsModule {
    TTlsEngineFactory Factory = nullptr;
    std::string Error;  // why it could not be loaded
};

// The override alone when it names a file (a wrong one must not go unnoticed); else the
// installed place relative to the program, then the build folder's module.
std::vector<std::string> ModulePlaces()
{
    const char* chosen = std::getenv("QUILLCAST_TLS_MODULE");
    if (chosen && *chosen) return {chosen};
    std::vector<std::string> places;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        places.push_back(
            (program.parent_path() / QUILLCAST_TLS_FROM_BIN / QUILLCAST_TLS_MODULE_NAME).lexically_normal());
    places.push_back(QUILLCAST_TLS_BUILD_MODULE);
    return places;
}

TTlsModule LoadModule()
{
    TTlsModule module;
    std::string reasons;
    for (const std::string& place : ModulePlaces()) {
        // Never closed: engines and OpenSSL's own state live as long as the process.
        void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) module.Factory = reinterpret_cast<TTlsEngineFactory>(dlsym(handle, TlsEngineFactoryName));
        if (module.Factory) return module;
        if (!reasons.empty()) reasons += "; ";
        const char* reason = dlerror();
        reasons += reason ? reason : place + ": not loaded";
        if (handle) dlclose(handle);
    }
    module.Error = "TLS is not available: cannot load " QUILLCAST_TLS_MODULE_NAME " (" + reasons + ")";
    return module;
}

TTlsEngineFactory Factory()
{
    static const TTlsModule module = LoadModule();  // once per process, thread-safe
    if (!module.Factory) throw ESockError(module.Error);
    return module.Factory;
}

}  // namespace

TTlsChannel::TRawIo TTlsChannel::SocketIo(int Fd)
{
    return {[Fd](void* Buffer, int Count) {
                return static_cast<int>(::recv(Fd, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT));
            },
            [Fd](const void* Buffer, int Count) {
                return static_cast<int>(::send(Fd, Buffer, static_cast<size_t>(Count), MSG_DONTWAIT | MSG_NOSIGNAL));
            }};
}

// The checks that need no TLS library come first, so that they need no module either.
TTlsChannel::TTlsChannel(const TTlsSettings& Settings, TRawIo Io)
{
    TTlsSettings checked = Settings;
    checked.Fingerprint = NormalizeFingerprint(Settings.Fingerprint);
    if (!Settings.Fingerprint.empty() && checked.Fingerprint.empty())
        throw ESockError("Invalid certificate fingerprint '" + Settings.Fingerprint +
                         "' (expected the SHA-256 fingerprint in hex)");
    if (checked.Fingerprint.empty() && Settings.Host.empty())
        throw ESockError("No server name to check the certificate against");
    std::string error;
    FEngine.reset(Factory()(checked, Io, error));
    if (!FEngine) throw ESockError(error);
}

TTlsChannel::~TTlsChannel() = default;

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

TTlsStatus TTlsChannel::Handshake() { return FEngine->Handshake(); }
bool TTlsChannel::Established() const { return FEngine->Established(); }
TTlsStatus TTlsChannel::Read(void* Buffer, int Count, int& Done) { return FEngine->Read(Buffer, Count, Done); }
TTlsStatus TTlsChannel::Write(const void* Buffer, int Count, int& Done) { return FEngine->Write(Buffer, Count, Done); }
TTlsStatus TTlsChannel::Shutdown() { return FEngine->Shutdown(); }
const std::string& TTlsChannel::ErrorText() const { return FEngine->ErrorText(); }
int TTlsChannel::SystemError() const { return FEngine->SystemError(); }
const std::string& TTlsChannel::PeerFingerprint() const { return FEngine->PeerFingerprint(); }
