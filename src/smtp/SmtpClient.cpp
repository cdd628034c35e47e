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

bool HasLineBreak(const std::string& S)
{
    return S.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

void CheckArgument(const std::string& S)
{
    // A CR or LF would start a command of the caller's choosing; a NUL would cut it.
    if (HasLineBreak(S))
        throw Exception("Invalid character in command");
}

}  // namespace

TSmtpClient::TSmtpClient(TComponent* AOwner)
    : TSockTransport(AOwner),
      FPostMessage(std::make_unique<TPostMessage>()),
      FBodyStream(std::make_unique<TMemoryStream>()),
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
    FLog.Note("connection aborted");
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
    FLog.Received(Line);
    return Line;
}

void TSmtpClient::ReadContinuation(const std::string& First)
{
    std::string Line = First;
    while (ParseSmtpReply(Line).Continued)
        Line = ReadReplyLine();
}

std::string TSmtpClient::Command(const std::string& Line)
{
    FLog.Sent(Line);
    std::string Reply;
    Transaction(Line, Reply);
    FLog.Received(Reply);
    // Multi-line replies are read whole, so their later lines are never taken as the
    // replies to the commands that follow.
    ReadContinuation(Reply);
    return Reply;
}

void TSmtpClient::ReadGreeting()
{
    std::string Line = ReadReplyLine();
    const int Code = ParseSmtpReply(Line).Code;
    while (ParseSmtpReply(Line).Continued)
        Line = ReadReplyLine();
    if (ReplyRefused(Code, GreetingLimit))
        throw Exception(Line);
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
    try {
        CheckArgument(FUserID);
        TSockTransport::Connect();
        FLog.Note("connected to " + Host() + ":" + std::to_string(Port()));
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
    std::exception_ptr Failure;
    std::string Reply;
    try {
        FLog.Sent("QUIT");
        Transaction("QUIT", Reply);
        FLog.Received(Reply);
    } catch (...) {
        Failure = std::current_exception();
    }
    try {
        TSockTransport::Disconnect();
        FLog.Note("connection closed");
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
    if (Entry.find('<') != std::string::npos)
        return NthField(NthField(Entry, '<', 2), '>', 1);
    if (Entry.find(':') != std::string::npos)
        return NthField(Entry, ':', 2);
    return Entry;
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
    for (const TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()})
        for (const std::string& Entry : List->Items())
            CheckArgument(ExtractAddress(Entry));
}

void TSmtpClient::Transact()
{
    TPostMessage& M = *FPostMessage;
    std::string Reply = Command("RSET");
    if (ReplyRefused(ReplyCode(), CommandLimit))
        throw Exception(Reply);

    Reply = Command("MAIL FROM:<" + M.FromAddress() + ">");
    if (ReplyRefused(ReplyCode(), CommandLimit))
        throw Exception(Reply);

    for (TStringList* List : {&M.ToAddress(), &M.ToCarbonCopy(), &M.ToBlindCarbonCopy()}) {
        // The count is taken once: a handler that edits the list cannot make the loop
        // run past its end.
        const int Count = List->Count();
        for (int i = 0; i < Count && i < List->Count(); ++i) {
            const std::string Entry = List->Strings(i);
            const std::string Address = ExtractAddress(Entry);
            if (Address.empty())
                continue;
            Command("RCPT TO:<" + Address + ">");
            if (ReplyRefused(ReplyCode(), RecipientLimit) && OnRecipientNotFound)
                OnRecipientNotFound(Entry);
        }
    }

    Reply = Command("DATA");
    if (ReplyRefused(ReplyCode(), CommandLimit))
        throw Exception(Reply);

    const std::string Header = FFinalHeader->Text() + "\r\n\r\n";
    if (FLog.Active()) {
        FLog.Sent(Header);
        FLog.Note("body: " + std::to_string(FBodyStream->Size()) + " bytes");
    }
    Write(Header);
    SendStream(*FBodyStream);

    Reply = Command(".");
    if (ReplyRefused(ReplyCode(), CommandLimit)) {
        if (OnFailure)
            OnFailure(this);
        throw Exception(Reply);
    }
}

void TSmtpClient::SendMail()
{
    if (FBusy)
        return;
    FBusy = true;
    try {
        ComposeMessage();
        RequireConnection();
        CheckComplete();
        CheckArguments();
        if (OnSendStart)
            OnSendStart(this);
        Transact();
        if (FClearParams)
            ClearParameters();
    } catch (...) {
        FBusy = false;
        throw;
    }
    FBusy = false;
    if (OnSuccess)
        OnSuccess(this);
}
