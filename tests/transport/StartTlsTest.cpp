// StartTls over the transport's own connection: a server that never answers the handshake
// is left on Stop or at the reply time-out, one that answers in plain text or hangs up is
// refused with the reason, and the connection is closed in every case.
#include "TransportFixture.h"

namespace {

class StartTlsTest : public TransportTest {};

TEST_F(StartTlsTest, HandshakeThatCannotCompleteEndsTheConnection)
{
    struct { std::function<void(TScriptedServer&)> Script; int ReplyTimeOut; bool Cancel; std::string Error; } Cases[] = {
        {[](TScriptedServer& S) { S.Stall(); }, 0, true, "TLS handshake aborted"},
        {[](TScriptedServer& S) { S.Stall(); }, 300, false, "TLS handshake timed out"},
        {[](TScriptedServer& S) { S.SendLine("220 plain text only").Stall(); }, 0, false, "TLS handshake failed: "},
        {[](TScriptedServer& S) { S.ExpectBytes(1).Close(); }, 0, false, "Connection closed during the TLS handshake"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Error);
        TScriptedServer S;
        S.Accept();
        C.Script(S);
        S.Start();
        TSockTransport T;
        ConnectTo(T, S);
        T.SetReplyTimeOut(C.ReplyTimeOut);
        if (C.Cancel)
            CancelLater(T, 100);
        const std::string Error = C.Cancel ? MessageOf<EAbortError>([&] { T.StartTls({"127.0.0.1", "", ""}); })
                                           : MessageOf<ESockError>([&] { T.StartTls({"127.0.0.1", "", ""}); });
        EXPECT_TRUE(Error.starts_with(C.Error)) << Error;
        EXPECT_FALSE(T.Connected());
        EXPECT_FALSE(T.TlsActive());
        S.Stop();
    }
}

}  // namespace
