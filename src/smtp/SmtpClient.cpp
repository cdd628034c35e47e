#include "smtp/SmtpClient.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "base/Exception.h"
#include "mime/MessageComposer.h"
#include "smtp/SaslAuth.h"
#include "smtp/SmtpReply.h"
#include "transport/ReplyLine.h"

namespace {

// Thresholds of the conversation: the highest accepted code of each reply.
constexpr int GreetingLimit = 399;
constexpr int HeloLimit = 299;
constexpr int CommandLimit = 399;  // RSET, MAIL FROM, DATA, end of data
constexpr int RecipientLimit = 300;
constexpr int QuitLimit = 339;
constexpr int StartTlsLimit = 299;
constexpr int AuthLimit = 299;
constexpr int AuthChallenge = 334;
constexpr int DataGoAhead = 354;
// A login that asks more than this many questions is not one this client knows.
constexpr int MaxAuthSteps = 4;
// Pipelined commands in flight at most, in bytes: they and their replies fit the socket
// buffers, so a server that stops reading while it writes replies cannot block us both.
constexpr size_t PipelineWindow = 64 * 1024;

std::string WithoutLineEnd(std::string S)
{
    while (!S.empty() && (S.back() == '\r' || S.back() == '\n')) S.pop_back();
    return S;
}

}  // namespace

TSmtpClient::TSmtpClient(TComponent* AOwner)
    : TSockTransport(AOwner),
      FPostMessage(std::make_unique<TPostMessage>()),
      FBodyStream(std::make_unique<TMessageBodyStream>()),
      FFinalHeader(std::make_unique<TExStringList>())
{
    SetPort(25);
    AbortNotify = [this](TObject*) { AbortConnection(); };
}

TSmtpClient::~TSmtpClient() = default;

void TSmtpClient::SetFinalHeader(const TStringList& Value) { FFinalHeader->Assign(Value); }

void TSmtpClient::AbortConnection()
{
    // A cancelled conversation is dropped without QUIT; whatever the server still sends
    // belongs to it and must not be taken for a reply later.
    TSockTransport::Disconnect();
    InBuffer().Clear();
}

void TSmtpClient::Cancel() { TSockTransport::Cancel(); }

std::string TSmtpClient::ReadReplyLine()
{
    std::string Line;
    ReadLn(Line);
    return Line;
}

std::string TSmtpClient::ReadContinuation(const std::string& First)
{
    std::string Line = First;
    while (ParseReplyLine(Line).Continued) Line = ReadReplyLine();
    return Line;
}

std::string TSmtpClient::Command(const std::string& Line)
{
    std::string Reply;
    Transaction(Line, Reply);
    // Multi-line replies are read whole, so their later lines are never taken as the
    // replies to the commands that follow.
    FLastReplyLine = ReadContinuation(Reply);
    return Reply;
}

void TSmtpClient::ReadGreeting()
{
    const std::string First = ReadReplyLine();
    const std::string Last = ReadContinuation(First);
    // The code is the first line's; the last line says most about a refusal.
    if (ReplyRefused(ParseReplyLine(First).Code, GreetingLimit)) throw Exception(Last);
}

void TSmtpClient::RetryWithNewUserID(int& Refusals)
{
    if (Refusals > 0 || !OnAuthenticationFailed) throw Exception("Authentication failed");
    bool Handled = false;
    OnAuthenticationFailed(Handled);
    if (!Handled) throw Exception("Authentication failed");
    ++Refusals;
}

void TSmtpClient::SayHello()
{
    int Refusals = 0;
    for (;;) {
        CheckArgument(FUserID);
        Command("HELO " + FUserID);
        if (!ReplyRefused(ReplyCode(), HeloLimit)) return;
        RetryWithNewUserID(Refusals);
    }
}

std::vector<std::string> TSmtpClient::ReadReply(int& Code)
{
    std::vector<std::string> Lines{ReadReplyLine()};
    Code = ParseReplyLine(Lines[0]).Code;
    while (ParseReplyLine(Lines.back()).Continued) Lines.push_back(ReadReplyLine());
    return Lines;
}

TTlsSettings TSmtpClient::TlsSettings() const { return {Host(), FSubmission.CAFile, FSubmission.Fingerprint}; }

void TSmtpClient::SayEhlo()
{
    // Without TLS or a login asked for, EHLO is only an offer: an old server's 5xx to it
    // leaves plain HELO (RFC 5321 4.1.1.1).
    const bool Required = FSubmission.Security != TSecurity::None || !FSubmission.AuthUser.empty();
    int Refusals = 0;
    for (;;) {
        CheckArgument(FUserID);
        FCapabilities = {};
        FEhloReply.clear();
        FExtended = false;
        std::string First;
        Transaction("EHLO " + FUserID, First);
        int Code = 0;
        std::vector<std::string> Lines{First};
        while (ParseReplyLine(Lines.back()).Continued) Lines.push_back(ReadReplyLine());
        Code = ReplyCode();
        FLastReplyLine = Lines.back();
        if (!ReplyRefused(Code, HeloLimit)) {
            FCapabilities = TEhloCapabilities::Parse(Lines);
            for (const std::string& L : Lines) FEhloReply.push_back(WithoutLineEnd(L));
            FExtended = true;
            return;
        }
        if (Code >= 500 && Code <= 599) {
            if (Required) throw Exception(First);
            SayHello();
            return;
        }
        RetryWithNewUserID(Refusals);
    }
}

void TSmtpClient::Identify()
{
    if (!FSubmission.UsesEhlo()) {
        SayHello();
        return;
    }
    SayEhlo();
    if (FSubmission.Security == TSecurity::StartTls) {
        if (!FCapabilities.StartTls()) throw Exception("The server does not offer STARTTLS");
        Expect("STARTTLS", StartTlsLimit);
        StartTls(TlsSettings());
        // What the server said before TLS may have been forged (RFC 3207 4.2).
        SayEhlo();
    }
    if (!FSubmission.AuthUser.empty()) Login();
}

void TSmtpClient::Login()
{
    const TSubmissionOptions& S = FSubmission;
    if (!TlsActive() && !S.AllowPlaintextAuth)
        throw Exception("The connection is not encrypted: the password is not sent");
    const std::vector<std::string> Offered = FCapabilities.AuthMechanisms();
    if (Offered.empty()) throw Exception("The server offers no login");
    const std::optional<TAuthMethod> Method = ChooseAuthMethod(Offered, S.AuthMethod, S.AuthMethod == amXOAuth2);
    if (!Method) {
        std::string List;
        for (const std::string& M : Offered) List += (List.empty() ? "" : " ") + M;
        throw Exception("The server offers no login method that fits (it offers " + List + ")");
    }
    WritelnHidden(AuthCommand(*Method, S.AuthUser, S.Password), AuthCommandLogText(*Method));
    for (int Step = 0;; ++Step) {
        int Code = 0;
        const std::vector<std::string> Reply = ReadReply(Code);
        FLastReplyLine = Reply.back();
        if (Code == AuthChallenge && Step < MaxAuthSteps) {
            const std::string Answer = AuthResponse(*Method, Step, S.AuthUser, S.Password);
            WritelnHidden(Answer, AuthResponseLogText(Answer));
            continue;
        }
        if (ReplyRefused(Code, AuthLimit)) throw Exception(Reply.front());
        FAuthMechanism = AuthMethodName(*Method);
        return;
    }
}

void TSmtpClient::Connect()
{
    const bool SetBusy = !FBusy;
    FBusy = true;
    bool Established = false;
    FInData = false;
    try {
        CheckArgument(FUserID);
        TSockTransport::Connect();
        try {
            FCapabilities = {};
            FEhloReply.clear();
            FExtended = false;
            FAuthMechanism.clear();
            FPipelined = 0;
            FDataPipelined = false;
            if (FSubmission.Security == TSecurity::Tls) StartTls(TlsSettings());
            ReadGreeting();
            Identify();
            Established = true;
        } catch (...) {
            // The error that made Connect fail tells the user more than a failed QUIT.
            try {
                Disconnect();
            } catch (...) {
            }
            throw;
        }
    } catch (...) {
        if (SetBusy) FBusy = false;
        throw;
    }
    if (SetBusy) FBusy = false;
    if (Established && OnConnect) OnConnect(this);
}

void TSmtpClient::DrainPipeline()
{
    // A handler that hangs up in the middle of the recipients: their replies come first,
    // and a DATA the server already took means that whatever follows is message text.
    try {
        while (FPipelined > 0 && Connected()) {
            int Code = 0;
            ReadReply(Code);
            if (--FPipelined == 0 && FDataPipelined && Code == DataGoAhead) FInData = true;
        }
    } catch (...) {
        FInData = true;
    }
    FPipelined = 0;
    FDataPipelined = false;
}

void TSmtpClient::Disconnect()
{
    ClearCancel();
    if (FPipelined > 0) DrainPipeline();
    if (FInData) {
        // A send stopped inside the message: the server would take QUIT for more of it,
        // and one that stopped reading would hold the QUIT for ever.
        FInData = false;
        TSockTransport::Disconnect();
        return;
    }
    std::exception_ptr Failure;
    std::string Reply;
    try {
        Transaction("QUIT", Reply);
    } catch (...) {
        Failure = std::current_exception();
    }
    try {
        TSockTransport::Disconnect();
    } catch (...) {
        if (!Failure) throw;
    }
    if (Failure) std::rethrow_exception(Failure);
    if (ReplyRefused(ReplyCode(), QuitLimit)) throw Exception(Reply);
}

void TSmtpClient::CheckArgument(std::string_view Argument)
{
    // A CR or LF would start a command of the caller's choosing; a NUL would cut it.
    if (Argument.find('\r') != Argument.npos || Argument.find('\n') != Argument.npos ||
        Argument.find('\0') != Argument.npos)
        throw Exception("Invalid character in command");
}

std::string_view TSmtpClient::ExtractAddress(std::string_view Entry)
{
    // The field after the first delimiter, up to the next one (or the closing '>').
    size_t Begin = 0, End = Entry.size();
    if (const size_t Lt = Entry.find('<'); Lt != std::string_view::npos) {
        Begin = Lt + 1;
        End = std::min(Entry.find('<', Begin), Entry.find('>', Begin));
    } else if (const size_t Colon = Entry.find(':'); Colon != std::string_view::npos) {
        Begin = Colon + 1;
        End = Entry.find(':', Begin);
    }
    End = std::min(End, Entry.size());
    // Blanks around an entry (lists typed or saved by hand have them) are no part of it.
    while (Begin < End && (Entry[Begin] == ' ' || Entry[Begin] == '\t')) ++Begin;
    while (End > Begin && (Entry[End - 1] == ' ' || Entry[End - 1] == '\t')) --End;
    return Entry.substr(Begin, End - Begin);
}

void TSmtpClient::SetEnvelope(std::optional<std::vector<std::string_view>> Addresses)
{
    // A new envelope for the same message keeps its composition; leaving envelopes drops it.
    if (!Addresses) FComposed = false;
    FEnvelope = std::move(Addresses);
}

void TSmtpClient::ClearParameters() { FPostMessage->ClearParameters(); }

void TSmtpClient::ComposeMessage()
{
    TMessageComposer Composer;
    // Forwarded at call time, so a handler assigned from another handler still counts.
    Composer.OnEncodeStart = [this](const std::string& F) {
        if (OnEncodeStart) OnEncodeStart(F);
    };
    Composer.OnEncodeEnd = [this](const std::string& F) {
        if (OnEncodeEnd) OnEncodeEnd(F);
    };
    Composer.OnAttachmentNotFound = [this](const std::string& F) {
        if (OnAttachmentNotFound) OnAttachmentNotFound(F);
    };
    // A server that answered EHLO without 8BITMIME gets 7-bit text; after HELO, 8-bit
    // text goes as it stands.
    Composer.Allow8Bit = !FExtended || FCapabilities.EightBitMime();
    Composer.ComposeMessage(*FPostMessage, FSubType, FEncodeType, *FFinalHeader, FBoundary, *FBodyStream);
    FBody8Bit = FExtended && FBodyStream->HasEightBit();
}

std::string TSmtpClient::MailParameters()
{
    if (!FExtended) return "";
    std::string Parameters;
    const uint64_t Limit = FCapabilities.SizeLimit();
    if (FCapabilities.Offers("SIZE")) {
        // Header block, its blank line, body and the final "." line: what DATA carries.
        const uint64_t Size = static_cast<uint64_t>(ComposedSize()) + 3;
        if (Limit > 0 && Size > Limit)
            throw Exception("The message is " + std::to_string(Size) + " bytes; the server takes at most " +
                            std::to_string(Limit) + " bytes");
        Parameters += " SIZE=" + std::to_string(Size);
    }
    if (FBody8Bit && FCapabilities.EightBitMime()) Parameters += " BODY=8BITMIME";
    return Parameters;
}

int64_t TSmtpClient::ComposedSize() const
{
    return static_cast<int64_t>(FFinalHeader->Text().size()) + 4 + FBodyStream->Size();
}

void TSmtpClient::CheckComplete()
{
    bool Asked = false;
    for (;;) {
        const TPostMessage& M = *FPostMessage;
        const bool NoSender = M.FromAddress().empty();
        const bool NoRecipient = FEnvelope ? FEnvelope->empty()
                                           : M.ToAddress().Count() == 0 && M.ToCarbonCopy().Count() == 0 &&
                                                 M.ToBlindCarbonCopy().Count() == 0;
        if (!NoSender && !NoRecipient) return;
        if (Asked || !OnHeaderIncomplete) throw Exception("Incomplete Header");
        Asked = true;
        bool Handled = false;
        OnHeaderIncomplete(Handled, NoSender ? 1 : 2);
        if (!Handled) throw Exception("Incomplete Header");
    }
}

void TSmtpClient::CheckArguments()
{
    const TPostMessage& M = *FPostMessage;
    CheckArgument(M.FromAddress());
    // With an envelope only its entries become commands; the record's lists feed the
    // header block, which the composer cleans.
    if (FEnvelope) {
        for (const std::string_view Address : *FEnvelope) CheckArgument(Address);
        return;
    }
    for (const TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()})
        for (const std::string& Entry : List->Items()) CheckArgument(ExtractAddress(Entry));
}

void TSmtpClient::Expect(const std::string& Line, int Limit)
{
    const std::string Reply = Command(Line);
    if (ReplyRefused(ReplyCode(), Limit)) throw Exception(Reply);
}

bool TSmtpClient::Transact()
{
    TPostMessage& M = *FPostMessage;
    if (FExtended && FCapabilities.Pipelining()) return TransactPipelined();
    const std::string Parameters = MailParameters();
    Expect("RSET", CommandLimit);
    Expect("MAIL FROM:<" + M.FromAddress() + ">" + Parameters, CommandLimit);

    bool Ended = false;
    int Accepted = 0;
    std::string Line;  // one buffer for every RCPT TO line
    // Returns false once the reply hook ended the recipients of this transaction.
    const auto Recipient = [&](std::string_view Entry, std::string_view Address) {
        if (Address.empty()) return true;
        Line.assign("RCPT TO:<").append(Address).append(">");
        Command(Line);
        const int Code = ReplyCode();
        if (OnRecipientReply && !OnRecipientReply(Entry, Code, FLastReplyLine)) return false;
        // A refused recipient does not end the transaction.
        if (!ReplyRefused(Code, RecipientLimit))
            ++Accepted;
        else if (OnRecipientNotFound)
            OnRecipientNotFound(std::string(Entry));
        return true;
    };
    if (FEnvelope) {
        for (size_t i = 0; i < FEnvelope->size() && !Ended; ++i) Ended = !Recipient((*FEnvelope)[i], (*FEnvelope)[i]);
    } else {
        for (TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()}) {
            // The count is taken once; a handler that shortens the list cannot make the loop
            // run past its end, and the entry is a copy it cannot change under us.
            const int Count = List->Count();
            for (int i = 0; i < Count && i < List->Count() && !Ended; ++i) {
                const std::string Entry = List->Strings(i);
                Ended = !Recipient(Entry, ExtractAddress(Entry));
            }
        }
    }
    // A transaction cut short before any recipient was taken has no message to send; nor
    // has an envelope that every recipient refused (the server would only refuse DATA).
    if (Accepted == 0 && (Ended || FEnvelope)) return false;

    Expect("DATA", CommandLimit);
    SendData();
    return true;
}

bool TSmtpClient::TransactPipelined()
{
    TPostMessage& M = *FPostMessage;
    const std::string Parameters = MailParameters();
    // The record's entries are copied: handlers run while replies are read, and the list
    // must not change under the loop.
    std::vector<std::string> Listed;
    std::vector<std::string_view> Entries;
    if (FEnvelope) {
        Entries = *FEnvelope;
    } else {
        for (const TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()})
            Listed.insert(Listed.end(), List->Items().begin(), List->Items().end());
        Entries.assign(Listed.begin(), Listed.end());
    }
    std::vector<std::string> Commands{"RSET", "MAIL FROM:<" + M.FromAddress() + ">" + Parameters};
    Commands.reserve(Entries.size() + 3);
    std::vector<size_t> EntryOf;  // the entry of each RCPT TO
    EntryOf.reserve(Entries.size());
    for (size_t i = 0; i < Entries.size(); ++i) {
        const std::string_view Address = FEnvelope ? Entries[i] : ExtractAddress(Entries[i]);
        if (Address.empty()) continue;
        Commands.push_back(std::string("RCPT TO:<").append(Address).append(">"));
        EntryOf.push_back(i);
    }
    Commands.push_back("DATA");

    // Replies arrive while nothing of ours goes out to carry their acknowledgement.
    struct TQuickAck {
        TSockTransport& T;
        ~TQuickAck() { T.SetQuickAck(false); }
    } QuickAck{*this};
    SetQuickAck(true);

    size_t Sent = 0, Answered = 0, InFlight = 0;
    bool Ended = false;
    int Accepted = 0;
    // Tops the commands in flight up to the window, once a quarter of it was answered.
    const auto Refill = [&] {
        if (Ended || Sent == Commands.size() || InFlight > PipelineWindow - PipelineWindow / 4) return;
        std::string Batch;
        const size_t First = Sent;
        while (Sent < Commands.size() && InFlight + Batch.size() + Commands[Sent].size() + 2 <= PipelineWindow)
            Batch.append(Commands[Sent++]).append("\r\n");
        if (Sent == First)  // one command longer than the window still goes
            Batch.append(Commands[Sent++]).append("\r\n");
        InFlight += Batch.size();
        FPipelined += static_cast<int>(Sent - First);
        FDataPipelined = Sent == Commands.size();
        Write(Batch);
    };
    const auto Next = [&](int& Code) {
        Refill();
        const std::vector<std::string> Reply = ReadReply(Code);
        --FPipelined;
        InFlight -= Commands[Answered++].size() + 2;
        FLastReplyLine = Reply.back();
        return Reply.front();
    };

    for (int k = 0; k < 2; ++k) {  // RSET, MAIL FROM
        int Code = 0;
        const std::string Reply = Next(Code);
        if (ReplyRefused(Code, CommandLimit)) throw Exception(Reply);
    }
    for (size_t r = 0; r < EntryOf.size(); ++r) {
        // Past the end the hook chose, only commands already on their way are answered.
        if (Ended && Answered >= Sent) break;
        // A handler hung up: lockstep, the next command would have found it closed.
        if (!Connected()) throw ESockError("Connection closed");
        int Code = 0;
        Next(Code);
        const std::string_view Entry = Entries[EntryOf[r]];
        if (Ended) {
            // The server holds whatever it took, so the hook hears of each reply still.
            if (OnRecipientReply) OnRecipientReply(Entry, Code, FLastReplyLine);
            if (!ReplyRefused(Code, RecipientLimit)) ++Accepted;
            continue;
        }
        if (OnRecipientReply && !OnRecipientReply(Entry, Code, FLastReplyLine)) {
            Ended = true;
            continue;
        }
        if (!ReplyRefused(Code, RecipientLimit))
            ++Accepted;
        else if (OnRecipientNotFound)
            OnRecipientNotFound(std::string(Entry));
    }
    const bool DataSent = Sent == Commands.size();
    if (Accepted == 0 && (Ended || FEnvelope)) {
        if (DataSent && Connected()) {
            int Code = 0;
            Next(Code);
            // A server that takes DATA with no recipient waits for text: no QUIT then.
            FInData = Code == DataGoAhead;
        }
        FDataPipelined = false;
        return false;
    }
    if (!Connected()) throw ESockError("Connection closed");
    if (!DataSent) {
        Expect("DATA", CommandLimit);
    } else {
        int Code = 0;
        const std::string Reply = Next(Code);
        FDataPipelined = false;
        if (ReplyRefused(Code, CommandLimit)) throw Exception(Reply);
    }
    SendData();
    return true;
}

void TSmtpClient::SendData()
{
    // Until "." is on its way, anything sent is message text: a QUIT would not be heard.
    FInData = true;
    Write(FFinalHeader->Text() + "\r\n\r\n");
    SendStream(*FBodyStream);
    std::string Reply;
    try {
        Reply = Command(".");
    } catch (...) {
        FInData = OutPending() > 0;
        throw;
    }
    FInData = false;
    if (ReplyRefused(ReplyCode(), CommandLimit)) {
        if (OnFailure) OnFailure(this);
        throw Exception(Reply);
    }
}

void TSmtpClient::SendMail()
{
    if (FBusy) return;
    FBusy = true;
    bool Sent = false;
    try {
        if (!FEnvelope || !FComposed) ComposeMessage();
        FComposed = FEnvelope.has_value();
        RequireConnection();
        CheckComplete();
        CheckArguments();
        if (OnSendStart) OnSendStart(this);
        Sent = Transact();
        if (FClearParams) ClearParameters();
    } catch (...) {
        FBusy = false;
        throw;
    }
    FBusy = false;
    if (Sent && OnSuccess) OnSuccess(this);
}
