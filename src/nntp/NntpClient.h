#pragma once
// TNntpClient: a news client on the socket transport. Present operations: Connect with
// the optional USER/PASS login, SelectGroup, a Transaction that selects the current
// group again when the server asks for one (412), Disconnect with QUIT, and the post
// record view. The remaining published events belong to reader operations that this
// component does not have; they are never raised.
//
// Raises NNTPError "Authentication failed" / "Invalid Group", ESockError "Log in to
// server failed", Exception "No Group Selected", and whatever the transport raises.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Exception.h"
#include "base/StringList.h"
#include "mime/ExStringList.h"
#include "nntp/PostRecordType.h"
#include "transport/SockTransport.h"

class NNTPError : public Exception {
    using Exception::Exception;
};

enum TCacheMode : uint8_t { cmMixed = 0, cmRemote = 1, cmLocal = 2 };

using TGroupRetrievedEvent =
    std::function<void(const std::string& name, int FirstArticle, int LastArticle, bool Posting)>;
using TGroupRetrievedCacheEvent =
    std::function<void(bool& Handled, const std::string& name, int FirstArticle, int LastArticle, bool Posting)>;
using THeaderCacheEvent =
    std::function<void(bool& Handled, int IdNo, const std::string& From, const std::string& Subject,
                       const std::string& MsgId, const std::string& Date, int ArticleNo)>;

class TNntpClient : public TSockTransport {
public:
    // How often a command answered 412 is repeated after selecting the group again.
    static constexpr int MaxGroupReselects = 3;

    explicit TNntpClient(TComponent* AOwner = nullptr);
    ~TNntpClient() override;

    // ---- events (raised only when set)
    TNotifyEvent OnConnect;                // end of Connect, when still connected
    THandlerEvent OnAuthenticationNeeded;  // UserId or Password empty at login
    TNotifyEvent OnAuthenticationFailed;   // the server refused USER/PASS
    TNotifyEvent OnGroupSelect;            // a group selection succeeded
    THandlerEvent OnGroupSelectRequired;   // a command was answered 412
    // Raised by no present operation.
    TGroupRetrievedEvent OnGroupListUpdate;
    TGroupRetrievedCacheEvent OnGroupListCacheUpdate;
    TNotifyEvent OnHeaderList;
    THeaderCacheEvent OnHeaderListCacheUpdate;
    TNotifyEvent OnHeader;
    THeaderCacheEvent OnHeaderCacheUpdate;
    TNotifyEvent OnArticle, OnArticleCacheUpdate, OnBody, OnBodyCacheUpdate, OnAbort, OnPosted, OnPostFailed,
        OnInvalidArticle;

    // ---- published properties
    const std::string& UserId() const { return FUserId; }
    void SetUserId(const std::string& V) { FUserId = V; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& V) { FPassword = V; }
    TCacheMode CacheMode() const { return FCacheMode; }
    void SetCacheMode(TCacheMode V) { FCacheMode = V; }
    bool ParseAttachments() const { return FParseAttachments; }
    void SetParseAttachments(bool V) { FParseAttachments = V; }
    // Directories, kept with a trailing "\".
    const std::string& AttachFilePath() const { return FAttachFilePath; }
    void SetAttachFilePath(const std::string& V);
    const std::string& NewsDir() const { return FNewsDir; }
    void SetNewsDir(const std::string& V);
    // Owned lists; the setters copy the entries.
    TExStringList& PostHeader() { return FPostHeader; }
    void SetPostHeader(const TStringList& V) { FPostHeader.Assign(V); }
    TExStringList& PostBody() { return FPostBody; }
    void SetPostBody(const TStringList& V) { FPostBody.Assign(V); }
    TStringList& PostAttachments() { return FPostAttachments; }
    void SetPostAttachments(const TStringList& V) { FPostAttachments.Assign(V); }
    // A view of PostHeader.
    TPostRecordType& PostRecord() { return FPostRecord; }

    // ---- state
    bool Busy() const { return FBusy; }
    const std::string& CurrentGroup() const { return FCurrentGroup; }
    int FirstArticle() const { return FFirstArticle; }
    int LastArticle() const { return FLastArticle; }

    // ---- operations
    // Connects, reads the greeting and logs in when the server asks for it.
    void Connect() override;
    // QUIT when connected, then close.
    void Disconnect() override;
    void Cancel() override;
    // The transport's Transaction; on 412 the current group is selected again and the
    // command repeated (at most MaxGroupReselects times).
    void Transaction(const std::string& Command, std::string& Reply) override;
    // Selects Name; does nothing while Busy.
    void SelectGroup(const std::string& Name);

private:
    void Login();
    void Abort();

    std::string FUserId, FPassword;
    TCacheMode FCacheMode = cmMixed;
    bool FParseAttachments = false;
    std::string FAttachFilePath, FNewsDir;
    TExStringList FPostHeader, FPostBody;
    TStringList FPostAttachments;
    TPostRecordType FPostRecord;
    bool FBusy = false;
    bool FReselecting = false;
    std::string FCurrentGroup;
    int FFirstArticle = 0;
    int FLastArticle = 0;
};
