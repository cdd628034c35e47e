#include "send/SendRun.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <span>

#include "mime/MessageComposer.h"
#include "platform/MessagePump.h"
#include "smtp/SmtpClient.h"
#include "smtp/SmtpReply.h"
#include "transport/SockErrors.h"

namespace {

constexpr int RecipientLimit = 300;  // the client's threshold for RCPT TO
constexpr int TooManyRecipients = 452;

// The reply to the row's RCPT TO, without its line end.
void Answer(TSendRow& Row, int Code, const std::string& Reply)
{
    size_t Length = Reply.size();
    while (Length > 0 && (Reply[Length - 1] == '\r' || Reply[Length - 1] == '\n')) --Length;
    Row.Code = Code;
    Row.Reply.assign(Reply, 0, Length);
}

}  // namespace

TSendRun::TSendRun(TSmtpClient& Client) : FClient(Client) {}

void TSendRun::Settle(TSendRow& Row, TSendOutcome Outcome)
{
    Row.Outcome = Outcome;
    Row.Transaction = FTransactions;
    if (OnRecipient) OnRecipient(Row);
}

void TSendRun::Progress(TSendPhase Phase)
{
    FProgress.Phase = Phase;
    if (OnProgress) OnProgress(FProgress);
}

void TSendRun::Stop()
{
    if (!FRunning || FStopped) return;
    FStopped = true;
    FStoppedAfterMessage = FProgress.Phase == TSendPhase::Answer;
    FClient.Cancel();
    // Closed here rather than by QUIT: a server that stopped answering would hold the QUIT
    // for the whole reply time-out, and the user asked for the send to end now.
    if (FClient.Connected()) FClient.TSockTransport::Disconnect();
}

void TSendRun::PrepareConnection(const TSendRequest& R)
{
    TSmtpClient& C = FClient;
    C.SetHost(R.Host);
    C.SetPort(R.Port);
    C.SetUserID(R.UserID);
    C.SetTimeOut(R.TimeOut);
    C.SetReplyTimeOut(R.ReplyTimeOut);
    C.SetSubmission(R);
}

std::vector<std::string> TSendRun::Probe(const TSendRequest& R)
{
    TSmtpClient& C = FClient;
    PrepareConnection(R);
    C.Connect();
    std::vector<std::string> Lines;
    try {
        for (const std::string& Line : C.EhloReply()) Lines.push_back(Line.size() > 4 ? Line.substr(4) : std::string());
        if (C.TlsActive()) Lines.push_back("TLS: server certificate SHA-256 " + C.TlsPeerFingerprint());
        if (!C.AuthMechanism().empty()) Lines.push_back("Logged in as " + R.AuthUser + " (" + C.AuthMechanism() + ")");
    } catch (...) {
        C.Disconnect();
        throw;
    }
    C.Disconnect();
    return Lines;
}

void TSendRun::Prepare(const TSendRequest& R, std::vector<std::string>* Entries)
{
    TSmtpClient& C = FClient;
    C.ClearParameters();
    PrepareConnection(R);
    TPostMessage& M = C.PostMessage();
    M.SetFromAddress(R.FromAddress);
    M.SetFromName(R.FromName);
    M.SetSubject(R.Subject);
    M.SetLocalProgram(R.LocalProgram);
    M.SetDate(R.Date.empty() ? MessageDate() : R.Date);
    // The record's lists feed the header block; Bcc entries appear in none, and RCPT TO
    // takes the envelope, so they need no copy there.
    if (R.Mode != TRecipientMode::BlindCarbonCopy) {
        TStringList& List = R.Mode == TRecipientMode::To ? M.ToAddress() : M.ToCarbonCopy();
        for (const std::string& Entry : R.Recipients) List.Add(Entry);
    }
    for (const std::string& File : R.Attachments) M.Attachments().Add(File);
    TStringList Body;
    for (const std::string& Line : R.Body) Body.Add(Line);
    M.SetBody(Body);

    FReport = TSendReport();
    FReport.Rows().reserve(R.Recipients.size());
    for (size_t i = 0; i < R.Recipients.size(); ++i) {
        TSendRow Row;
        // Not one conditional expression: its mixed operands would make a const copy.
        if (Entries)
            Row.Entry = std::move((*Entries)[i]);
        else
            Row.Entry = R.Recipients[i];
        if (R.AlreadyAccepted.count(Row.Entry)) Row.Outcome = TSendOutcome::Accepted;
        FReport.Rows().push_back(std::move(Row));
    }
}

void TSendRun::Pause(int Ms)
{
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    // Stop ends the pause at once; the next command then ends with the transport's abort.
    for (auto Now = std::chrono::steady_clock::now(); Now < End && !FClient.CancelRequested();
         Now = std::chrono::steady_clock::now())
        SleepAndProcessMessages(static_cast<int>(
            std::min<int64_t>(50, std::chrono::duration_cast<std::chrono::milliseconds>(End - Now).count() + 1)));
}

void TSendRun::Run(const TSendRequest& R) { Execute(R, nullptr); }

void TSendRun::Run(TSendRequest&& R) { Execute(R, &R.Recipients); }

void TSendRun::Execute(const TSendRequest& R, std::vector<std::string>* Entries)
{
    TSmtpClient& C = FClient;
    FTransactions = 0;
    FDelivered = false;
    FConnectFailure.clear();
    FProgress = TSendProgress();
    FHungUp = FStopped = FStoppedAfterMessage = false;

    // The client's handlers are the caller's; the run borrows three of them while it runs.
    struct TBorrowed {
        TSmtpClient& C;
        TNotifyEvent Success = C.OnSuccess;
        TRecipientNotFound NotFound = C.OnRecipientNotFound;
        TNotifyEvent PacketSent = C.OnPacketSent;
        TNotifyEvent Connected = C.TSockTransport::OnConnect;
        bool ClearParams = C.ClearParams();
        bool& Running;
        ~TBorrowed()
        {
            Running = false;
            C.OnSuccess = Success;
            C.TSockTransport::OnConnect = Connected;
            C.OnRecipientNotFound = NotFound;
            C.OnPacketSent = PacketSent;
            C.OnRecipientReply = nullptr;
            C.SetEnvelope(std::nullopt);
            C.SetClearParams(ClearParams);
            if (ClearParams) C.ClearParameters();
        }
    } Borrowed{
        C, C.OnSuccess, C.OnRecipientNotFound, C.OnPacketSent, C.TSockTransport::OnConnect, C.ClearParams(), FRunning};
    FRunning = true;
    FSuccess = Borrowed.Success;
    C.SetEnvelope(std::nullopt);
    // The record keeps the header's lists until the last transaction is over.
    C.SetClearParams(false);
    C.OnSuccess = nullptr;

    std::exception_ptr Failure;
    try {
        Prepare(R, Entries);
        Converse(R);
    } catch (...) {
        Failure = std::current_exception();
    }
    if (!Failure) return;
    // The refusal was reported and the conversation ended on purpose; the closed
    // connection the next command ran into is not news to anyone.
    if (FHungUp && !FStopped) return;
    // The first error is the one the user hears about, not a failed QUIT after it.
    try {
        if (C.Connected()) C.Disconnect();
    } catch (...) {
    }
    std::rethrow_exception(Failure);
}

void TSendRun::Converse(const TSendRequest& R)
{
    TSmtpClient& C = FClient;
    std::vector<TSendRow>& Rows = FReport.Rows();
    // Row numbers; a list has fewer than 2^32 entries, and a long one is cheaper this way.
    std::vector<uint32_t> Pending;
    Pending.reserve(Rows.size());
    for (size_t i = 0; i < Rows.size(); ++i)
        if (Rows[i].Outcome == TSendOutcome::NotTried && !Rows[i].Address().empty())
            Pending.push_back(static_cast<uint32_t>(i));
    size_t Limit = R.MaxRecipients > 0 ? static_cast<size_t>(R.MaxRecipients) : Pending.size();
    FProgress.RecipientsTotal = static_cast<int>(Pending.size());
    FProgress.Split = Pending.size() > Limit;

    TRecipientNotFound NotFound = C.OnRecipientNotFound;
    const TNotifyEvent PacketSent = C.OnPacketSent;
    uint32_t Current = 0;  // the row of the reply being handled
    // In hang-up mode the caller's handler hears of the refusal first, then the
    // conversation ends; the next command then fails on the closed connection.
    if (R.SkipRefused)
        C.OnRecipientNotFound = nullptr;
    else
        C.OnRecipientNotFound = [this, NotFound, &Current](const std::string&) {
            if (NotFound) NotFound(FReport.Rows()[Current].Entry);
            FHungUp = true;
            FClient.Disconnect();
        };
    C.OnPacketSent = [this, PacketSent](TObject* Sender) {
        if (PacketSent) PacketSent(Sender);
        FProgress.BytesSent = FClient.BytesSent();
        FProgress.BytesTotal = FClient.BytesTotal();
        // After the last block only the final "." goes out before the server decides.
        Progress(FProgress.BytesSent >= FProgress.BytesTotal ? TSendPhase::Answer : TSendPhase::Message);
    };
    C.TSockTransport::OnConnect = [this](TObject*) { Progress(TSendPhase::Greeting); };

    // A resumed list that everyone already has needs no conversation.
    if (!Rows.empty() && Pending.empty()) return;
    Progress(TSendPhase::Connecting);
    try {
        C.Connect();
    } catch (const ESockError& E) {
        if (E.Message() == "Connection Failed") FConnectFailure = SockErrorText(C.LastError());
        throw;
    }
    // Every address is checked before the first transaction, so a bad one half-way down a
    // long list cannot stop the send after part of it went out.
    for (const uint32_t i : Pending) TSmtpClient::CheckArgument(Rows[i].Address());

    if (Rows.empty()) {
        // Nothing to send to: the client's own check reports the incomplete header.
        C.SetEnvelope(std::vector<std::string_view>());
        C.SendMail();
    }
    while (!Pending.empty()) {
        if (FTransactions > 0 && R.PauseMs > 0) Pause(R.PauseMs);
        // Stopped between transactions: the connection is gone; end as a stopped wait does.
        if (FStopped) throw EAbortError("Socket readln aborted");
        // Pending stays as it is until the transaction is over.
        const std::span<const uint32_t> Chunk(Pending.data(), std::min(Limit, Pending.size()));
        ++FTransactions;
        FProgress.Transaction = FTransactions;
        FProgress.RecipientsInTransaction = static_cast<int>(Chunk.size());
        FProgress.BytesSent = FProgress.BytesTotal = 0;
        FProgress.Split = FProgress.Split || FTransactions > 1;
        Progress(TSendPhase::Recipients);

        // The rows stay where they are until the run ends: the envelope points at their addresses.
        std::vector<std::string_view> Envelope;
        Envelope.reserve(Chunk.size());
        for (const uint32_t i : Chunk) Envelope.push_back(Rows[i].Address());
        std::vector<uint32_t> Taken;
        Taken.reserve(Chunk.size());
        bool GiveUp = false, Cut = false;
        size_t Next = 0;
        C.OnRecipientReply = [&](std::string_view, int Code, const std::string& Reply) {
            Current = Chunk[Next++];
            TSendRow& Row = Rows[Current];
            ++FProgress.RecipientsSent;
            Progress(TSendPhase::Recipients);
            if (Code == TooManyRecipients) {
                // Nothing taken yet: another transaction would get the same answer.
                if (Taken.empty()) {
                    GiveUp = true;
                    for (const uint32_t i : Pending)
                        if (Rows[i].Outcome == TSendOutcome::NotTried) {
                            Answer(Rows[i], Code, Reply);
                            Settle(Rows[i], TSendOutcome::Deferred);
                        }
                }
                Cut = true;
                return false;
            }
            Answer(Row, Code, Reply);
            if (!ReplyRefused(Code, RecipientLimit))
                Taken.push_back(Current);
            else
                Settle(Row, Code >= 400 && Code < 500 ? TSendOutcome::Deferred : TSendOutcome::Refused);
            return true;
        };
        C.SetEnvelope(std::move(Envelope));
        C.SendMail();

        // A server that said 452 after some recipients has shown its limit: later
        // transactions keep to it instead of being cut by another 452 each.
        if (Cut) Limit = std::min(Limit, Taken.size());
        if (!Taken.empty()) {
            FDelivered = true;
            for (const uint32_t i : Taken) Settle(Rows[i], TSendOutcome::Accepted);
        }
        std::erase_if(Pending, [&](uint32_t i) { return Rows[i].Outcome != TSendOutcome::NotTried; });
        FProgress.RecipientsDone = FProgress.RecipientsTotal - static_cast<int>(Pending.size());
        if (!Taken.empty() && OnTransactionDone) OnTransactionDone(FProgress);
        if (GiveUp) Pending.clear();
    }
    C.OnRecipientReply = nullptr;
    // Once for the whole list, while the connection is still open.
    if (FDelivered && FSuccess) FSuccess(&C);
    C.Disconnect();
}
