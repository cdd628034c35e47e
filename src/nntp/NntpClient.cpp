#include "nntp/NntpClient.h"

#include <exception>

namespace {

bool AsksForLogin(int Code) { return (Code >= 301 && Code <= 399) || Code == 480; }

// The greeting and the USER reply fail the login from 400 on (480 asks for it); a reply
// without a code is no answer at all and fails it too, rather than passing for success.
bool LoginRefused(int Code) { return Code < 200 || (Code >= 400 && Code != 480); }

int NumberOr0(const std::string& Text)
{
    try {
        return StrToInt(Text);
    } catch (const EConvertError&) {
        return 0;
    }
}

std::string WithTrailingBackslash(const std::string& Dir)
{
    if (!Dir.empty() && Dir.back() == '\\') return Dir;
    return Dir + "\\";
}

// Remembers Busy on entry and puts it back on the way out, by any path.
class TBusyRestore {
public:
    explicit TBusyRestore(bool& Flag) : FFlag(Flag), FSaved(Flag) {}
    ~TBusyRestore() { FFlag = FSaved; }
    TBusyRestore(const TBusyRestore&) = delete;
    TBusyRestore& operator=(const TBusyRestore&) = delete;

private:
    bool& FFlag;
    bool FSaved;
};

}  // namespace

TNntpClient::TNntpClient(TComponent* AOwner) : TSockTransport(AOwner), FPostRecord(&FPostHeader)
{
    SetPort(119);
    AbortNotify = [this](TObject*) { Abort(); };
}

TNntpClient::~TNntpClient() { AbortNotify = nullptr; }

// A cancel noticed by the reader: close at once, without QUIT, and forget what came.
void TNntpClient::Abort()
{
    TSockTransport::Disconnect();
    InBuffer().Clear();
}

void TNntpClient::SetAttachFilePath(const std::string& V) { FAttachFilePath = WithTrailingBackslash(V); }

void TNntpClient::SetNewsDir(const std::string& V) { FNewsDir = WithTrailingBackslash(V); }

void TNntpClient::Connect()
{
    const bool setBusy = !FBusy;
    FBusy = true;
    std::exception_ptr failure;
    try {
        Login();
    } catch (...) {
        failure = std::current_exception();
    }
    if (setBusy) FBusy = false;
    if (OnConnect && Connected()) OnConnect(this);
    if (failure) std::rethrow_exception(failure);
}

void TNntpClient::Login()
{
    TSockTransport::Connect();
    try {
        std::string line;
        ReadLn(line);
        const int greeting = ParseReplyLine(line).Code;
        if (LoginRefused(greeting)) throw ESockError("Log in to server failed");
        if (!AsksForLogin(greeting)) return;

        if (FUserId.empty() || FPassword.empty()) {
            bool handled = false;
            if (OnAuthenticationNeeded) OnAuthenticationNeeded(handled);
            if (!handled) throw NNTPError("Authentication failed");
        }
        std::string reply;
        Transaction("USER " + FUserId, reply);
        if (LoginRefused(ReplyCode())) throw ESockError("Log in to server failed");
        if (AsksForLogin(ReplyCode())) Transaction("PASS " + FPassword, reply);
        if (ReplyCode() > 299 || ReplyCode() < 200) {
            if (OnAuthenticationFailed) OnAuthenticationFailed(this);
            throw NNTPError("Authentication failed");
        }
    } catch (...) {
        // The login's own failure is the one worth reporting, not a failing QUIT.
        try {
            Disconnect();
        } catch (...) {
        }
        throw;
    }
}

void TNntpClient::Disconnect()
{
    if (FBusy) Cancel();
    if (!Connected()) return;
    std::exception_ptr failure;
    try {
        std::string reply;
        Transaction("QUIT", reply);
    } catch (...) {
        failure = std::current_exception();
    }
    TSockTransport::Disconnect();
    if (failure) std::rethrow_exception(failure);
}

void TNntpClient::Cancel() { TSockTransport::Cancel(); }

void TNntpClient::Transaction(const std::string& Command, std::string& Reply)
{
    ClearCancel();
    for (int reselects = 0;; ++reselects) {
        TSockTransport::Transaction(Command, Reply);
        if (ReplyCode() != 412) return;
        // A server that keeps asking although the group was selected will not be
        // satisfied by selecting it once more.
        // So does one that answers the GROUP of a reselection with 412 again.
        if (reselects >= MaxGroupReselects || FReselecting) throw Exception("No Group Selected");
        if (FCurrentGroup.empty() && !OnGroupSelectRequired) throw Exception("No Group Selected");
        bool handled = false;
        if (OnGroupSelectRequired) OnGroupSelectRequired(handled);
        if (!handled && FCurrentGroup.empty()) throw Exception("No Group Selected");
        TBusyRestore restore(FBusy);
        FBusy = false;
        FReselecting = true;
        try {
            SelectGroup(FCurrentGroup);
        } catch (...) {
            FReselecting = false;
            throw;
        }
        FReselecting = false;
    }
}

void TNntpClient::SelectGroup(const std::string& Name)
{
    if (FBusy) return;
    bool done = false;
    {
        TBusyRestore restore(FBusy);
        FBusy = true;
        if (FCacheMode != cmLocal) {
            RequireConnection();
            std::string reply;
            Transaction("GROUP " + Name, reply);
            if (ReplyCode() > 299 || ReplyCode() < 200) throw NNTPError("Invalid Group");
            FCurrentGroup = Name;
            // "211 count first last name": the line end must not spoil the last field.
            const std::string line = reply.substr(0, reply.find_first_of("\r\n"));
            FFirstArticle = NumberOr0(NthField(line, ' ', 3));
            FLastArticle = NumberOr0(NthField(line, ' ', 4));
        } else {
            // Without the server there is no one to refuse the group or to say its range.
            FCurrentGroup = Name;
            FFirstArticle = FLastArticle = 0;
        }
        done = true;
    }
    if (done && OnGroupSelect) OnGroupSelect(this);
}
