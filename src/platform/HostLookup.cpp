#include "platform/HostLookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <thread>

#include "platform/SocketErrors.h"

namespace {

THostLookupFn& Override()
{
    static THostLookupFn fn;
    return fn;
}

struct TLookupResult {
    int Error = 0;
    uint32_t Addr = 0;
};

// The resolver's answer as the socket library reports it: the first IPv4 address.
TLookupResult Resolve(const std::string& Name)
{
    // A name with letters beyond ASCII is known to the resolver in its ASCII form.
    const QByteArray Ace = QUrl::toAce(QString::fromUtf8(Name.data(), static_cast<qsizetype>(Name.size())));
    if (Ace.isEmpty()) return {WSAHOST_NOT_FOUND, 0};
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* List = nullptr;
    int Rc = getaddrinfo(Ace.constData(), nullptr, &Hints, &List);
    if (Rc == EAI_BADFLAGS) {
        Hints.ai_flags = 0;
        Rc = getaddrinfo(Ace.constData(), nullptr, &Hints, &List);
    }
    switch (Rc) {
    case 0: break;
    case EAI_NONAME:
    case EAI_FAIL:
    case EAI_NODATA: return {WSAHOST_NOT_FOUND, 0};
    default: return {WSANO_RECOVERY, 0};
    }
    TLookupResult Result{WSANO_DATA, 0};  // the name exists, but has no IPv4 address
    for (const addrinfo* A = List; A; A = A->ai_next)
        if (A->ai_family == AF_INET) {
            Result = {0, reinterpret_cast<const sockaddr_in*>(A->ai_addr)->sin_addr.s_addr};
            break;
        }
    freeaddrinfo(List);
    return Result;
}

// The resolver blocks, so it runs on a thread of its own; the answer is posted to an object
// of the requester's thread that lives until the answer arrives. No pool: a lookup that
// hangs must not hold up the program's exit.
void SystemLookup(const std::string& Name, QObject* Context, THostLookupDone Done)
{
    auto* Receiver = new QObject;
    Receiver->moveToThread(Context->thread());
    std::thread([Name, Receiver, Done = std::move(Done)]() mutable {
        const TLookupResult R = Resolve(Name);
        QMetaObject::invokeMethod(
            Receiver,
            [Receiver, R, Done = std::move(Done)] {
                delete Receiver;  // nothing touches the receiver of an event after its delivery
                Done(R.Error, R.Addr);
            },
            Qt::QueuedConnection);
    }).detach();
}

}  // namespace

void StartHostLookup(const std::string& Name, QObject* Context, THostLookupDone Done)
{
    // A completion that outlives its requester is dropped here, whoever produced it.
    THostLookupDone guarded = [ctx = QPointer<QObject>(Context), Done = std::move(Done)](int Error, uint32_t Addr) {
        if (ctx) Done(Error, Addr);
    };
    if (Override())
        Override()(Name, Context, std::move(guarded));
    else
        SystemLookup(Name, Context, std::move(guarded));
}

void SetHostLookupOverride(THostLookupFn Fn) { Override() = std::move(Fn); }
