#pragma once
// Asynchronous host-name lookup. The completion runs later on the thread of Context,
// and never once Context has been destroyed. Error is 0 with the first IPv4 address
// (network byte order), or a socket error number (11001 for an unknown host).
#include <cstdint>
#include <functional>
#include <string>

class QObject;

using THostLookupDone = std::function<void(int Error, uint32_t AddrNetOrder)>;
using THostLookupFn = std::function<void(const std::string& Name, QObject* Context, THostLookupDone Done)>;

void StartHostLookup(const std::string& Name, QObject* Context, THostLookupDone Done);

// Replaces the system lookup (tests make lookups hang or fail); an empty function
// restores it. The override may call Done at once, later, or never.
void SetHostLookupOverride(THostLookupFn Fn);
