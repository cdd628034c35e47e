#include "send/SendRequest.h"

#include "base/Exception.h"

int ParsePortNumber(const std::string& Text)
{
    const int Port = StrToInt(Text);
    if (Port < 1 || Port > 65535) throw Exception(Format("'%s' is not a valid port number", Text.c_str()));
    return Port;
}

int DefaultPortFor(TSecurity Security)
{
    switch (Security) {
    case TSecurity::Tls: return 465;
    case TSecurity::StartTls: return 587;
    case TSecurity::None: break;
    }
    return TSendRequest::DefaultPort;
}
