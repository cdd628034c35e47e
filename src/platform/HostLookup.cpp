#include "platform/HostLookup.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QtEndian>

#include "platform/SocketErrors.h"

namespace {

THostLookupFn& Override()
{
    static THostLookupFn fn;
    return fn;
}

void SystemLookup(const std::string& Name, QObject* Context, THostLookupDone Done)
{
    QHostInfo::lookupHost(QString::fromUtf8(Name.data(), static_cast<qsizetype>(Name.size())), Context,
                          [Done = std::move(Done)](const QHostInfo& Info) {
                              if (Info.error() == QHostInfo::HostNotFound) return Done(WSAHOST_NOT_FOUND, 0);
                              if (Info.error() != QHostInfo::NoError) return Done(WSANO_RECOVERY, 0);
                              for (const QHostAddress& a : Info.addresses()) {
                                  if (a.protocol() != QAbstractSocket::IPv4Protocol) continue;
                                  return Done(0, qToBigEndian<quint32>(a.toIPv4Address()));
                              }
                              Done(WSANO_DATA, 0);  // the name exists, but has no IPv4 address
                          });
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
