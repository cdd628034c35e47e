// StartTls over the transport's own connection: a server that never answers the handshake
// is left on Stop or at the reply time-out, one that answers in plain text or hangs up is
// refused with the reason, and the connection is closed in every case.
#include "TransportFixture.h"

namespace {

TEST_F(TransportTest, TlsHandshakeThatCannotCompleteEndsTheConnection)
{
    struct { std::function<void(TScriptedServer&)> Script; int ReplyTimeOut; bool Cancel; std::string Error; } Cases[] = {
        {[](TScriptedServer& S) { S.Accept().Stall(); }, 0, true, "TLS handshake aborted"},
        {[](TScriptedServer& S) { S.Accept().Stall(); }, 300, false, "TLS handshake timed out"},
        {[](TScriptedServer& S) { S.Accept().SendLine("220 plain text only").Stall(); }, 0, false, "TLS handshake failed: "},
        {[](TScriptedServer& S) { S.Accept().ExpectBytes(1).Close(); }, 0, false, "Connection closed during the TLS handshake"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Error);
        TScriptedServer S;
        C.Script(S);
        S.Start();
        TSockTransport T;
        ConnectTo(T, S);
        T.SetReplyTimeOut(C.ReplyTimeOut);
        if (C.Cancel)
            CancelLater(T, 100);
        const std::string Error = MessageOf<ESockError>([&] { T.StartTls({"127.0.0.1", "", ""}); });
        EXPECT_TRUE(Error.starts_with(C.Error)) << Error;
        EXPECT_FALSE(T.Connected() || T.TlsActive());
    }
}

}  // namespace
