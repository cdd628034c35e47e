#include "smtp/SmtpClient.h"

#include <exception>

#include "base/Exception.h"
#include "mime/MessageComposer.h"
#include "smtp/SmtpReply.h"

namespace {

// Thresholds of the conversation: the highest accepted code of each reply.
constexpr int GreetingLimit = 399;
constexpr int HeloLimit = 299;
constexpr int CommandLimit = 399;  // RSET, MAIL FROM, DATA, end of data
constexpr int RecipientLimit = 300;
constexpr int QuitLimit = 339;

void CheckArgument(const std::string& S)
{
    // A CR or LF would start a command of the caller's choosing; a NUL would cut it.
    if (S.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw Exception("Invalid character in command");
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

void TSmtpClient::SetFinalHeader(const TStringList& Value)
{
    FFinalHeader->Assign(Value);
}

void TSmtpClient::AbortConnection()
{
    // A cancelled conversation is dropped without QUIT; whatever the server still sends
    // belongs to it and must not be taken for a reply later.
    TSockTransport::Disconnect();
    InBuffer().Clear();
}

void TSmtpClient::Cancel()
{
    TSockTransport::Cancel();
}

std::string TSmtpClient::ReadReplyLine()
{
    std::string Line;
    ReadLn(Line);
    return Line;
}

std::string TSmtpClient::ReadContinuation(const std::string& First)
{
    std::string Line = First;
    while (ParseReplyLine(Line).Continued)
        Line = ReadReplyLine();
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
    if (ReplyRefused(ParseReplyLine(First).Code, GreetingLimit))
        throw Exception(Last);
}

void TSmtpClient::SayHello()
{
    int Refusals = 0;
    for (;;) {
        CheckArgument(FUserID);
        Command("HELO " + FUserID);
        if (!ReplyRefused(ReplyCode(), HeloLimit))
            return;
        if (Refusals > 0 || !OnAuthenticationFailed)
            throw Exception("Authentication failed");
        bool Handled = false;
        OnAuthenticationFailed(Handled);
        if (!Handled)
            throw Exception("Authentication failed");
        ++Refusals;
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
            ReadGreeting();
            SayHello();
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
        if (SetBusy)
            FBusy = false;
        throw;
    }
    if (SetBusy)
        FBusy = false;
    if (Established && OnConnect)
        OnConnect(this);
}

void TSmtpClient::Disconnect()
{
    ClearCancel();
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
        if (!Failure)
            throw;
    }
    if (Failure)
        std::rethrow_exception(Failure);
    if (ReplyRefused(ReplyCode(), QuitLimit))
        throw Exception(Reply);
}

std::string TSmtpClient::ExtractAddress(const std::string& Entry)
{
    std::string Address = Entry;
    if (Entry.find('<') != std::string::npos)
        Address = NthField(NthField(Entry, '<', 2), '>', 1);
    else if (Entry.find(':') != std::string::npos)
        Address = NthField(Entry, ':', 2);
    // Blanks around an entry (lists typed or saved by hand have them) are no part of it.
    const size_t First = Address.find_first_not_of(" \t");
    if (First == std::string::npos)
        return "";
    return Address.substr(First, Address.find_last_not_of(" \t") - First + 1);
}

void TSmtpClient::SetEnvelope(std::optional<std::vector<std::string>> Entries)
{
    // A new envelope for the same message keeps its composition; leaving envelopes drops it.
    if (!Entries)
        FComposed = false;
    FEnvelope = std::move(Entries);
}

void TSmtpClient::ClearParameters()
{
    FPostMessage->ClearParameters();
}

void TSmtpClient::ComposeMessage()
{
    TMessageComposer Composer;
    // Forwarded at call time, so a handler assigned from another handler still counts.
    Composer.OnEncodeStart = [this](const std::string& F) { if (OnEncodeStart) OnEncodeStart(F); };
    Composer.OnEncodeEnd = [this](const std::string& F) { if (OnEncodeEnd) OnEncodeEnd(F); };
    Composer.OnAttachmentNotFound = [this](const std::string& F) {
        if (OnAttachmentNotFound)
            OnAttachmentNotFound(F);
    };
    Composer.ComposeMessage(*FPostMessage, FSubType, FEncodeType, *FFinalHeader, FBoundary, *FBodyStream);
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
        const bool NoRecipient = M.ToAddress().Count() == 0 && M.ToCarbonCopy().Count() == 0 &&
                                 M.ToBlindCarbonCopy().Count() == 0;
        if (!NoSender && !NoRecipient)
            return;
        if (Asked || !OnHeaderIncomplete)
            throw Exception("Incomplete Header");
        Asked = true;
        bool Handled = false;
        OnHeaderIncomplete(Handled, NoSender ? 1 : 2);
        if (!Handled)
            throw Exception("Incomplete Header");
    }
}

void TSmtpClient::CheckArguments()
{
    const TPostMessage& M = *FPostMessage;
    CheckArgument(M.FromAddress());
    // With an envelope only its entries become commands; the record's lists feed the
    // header block, which the composer cleans.
    if (FEnvelope) {
        for (const std::string& Entry : *FEnvelope)
            CheckArgument(ExtractAddress(Entry));
        return;
    }
    for (const TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()})
        for (const std::string& Entry : List->Items())
            CheckArgument(ExtractAddress(Entry));
}

void TSmtpClient::Expect(const std::string& Line, int Limit)
{
    const std::string Reply = Command(Line);
    if (ReplyRefused(ReplyCode(), Limit))
        throw Exception(Reply);
}

bool TSmtpClient::Transact()
{
    TPostMessage& M = *FPostMessage;
    Expect("RSET", CommandLimit);
    Expect("MAIL FROM:<" + M.FromAddress() + ">", CommandLimit);

    bool Ended = false;
    int Accepted = 0;
    // Returns false once the reply hook ended the recipients of this transaction.
    const auto Recipient = [&](const std::string& Entry) {
        const std::string Address = ExtractAddress(Entry);
        if (Address.empty())
            return true;
        const std::string Reply = Command("RCPT TO:<" + Address + ">");
        const int Code = ReplyCode();
        if (OnRecipientReply && !OnRecipientReply(Entry, Code, FLastReplyLine))
            return false;
        // A refused recipient does not end the transaction.
        if (!ReplyRefused(Code, RecipientLimit))
            ++Accepted;
        else if (OnRecipientNotFound)
            OnRecipientNotFound(Entry);
        return true;
    };
    if (FEnvelope) {
        for (size_t i = 0; i < FEnvelope->size() && !Ended; ++i)
            Ended = !Recipient((*FEnvelope)[i]);
    } else {
        for (TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()}) {
            // The count is taken once; a handler that shortens the list cannot make the loop
            // run past its end.
            const int Count = List->Count();
            for (int i = 0; i < Count && i < List->Count() && !Ended; ++i)
                Ended = !Recipient(List->Strings(i));
        }
    }
    // A transaction cut short before any recipient was taken has no message to send; nor
    // has an envelope that every recipient refused (the server would only refuse DATA).
    if (Accepted == 0 && (Ended || FEnvelope))
        return false;

    Expect("DATA", CommandLimit);
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
        if (OnFailure)
            OnFailure(this);
        throw Exception(Reply);
    }
    return true;
}

void TSmtpClient::SendMail()
{
    if (FBusy)
        return;
    FBusy = true;
    bool Sent = false;
    try {
        if (!FEnvelope || !FComposed)
            ComposeMessage();
        FComposed = FEnvelope.has_value();
        RequireConnection();
        CheckComplete();
        CheckArguments();
        if (OnSendStart)
            OnSendStart(this);
        Sent = Transact();
        if (FClearParams)
            ClearParameters();
    } catch (...) {
        FBusy = false;
        throw;
    }
    FBusy = false;
    if (Sent && OnSuccess)
        OnSuccess(this);
}
