#pragma once
// TSmtpClient: the SMTP conversation on top of the socket transport. Connect reads the
// greeting and identifies the client with HELO; SendMail runs one mail transaction
// (RSET, MAIL FROM, RCPT TO per recipient, DATA, header block, body, "."); Disconnect
// says QUIT and closes. Composition of the header block and the body is the composer's
// (mime/MessageComposer.h); this class sends what it produced unchanged.
//
// With submission options (SetSubmission) it speaks EHLO, protects the connection with
// implicit TLS or STARTTLS, logs in with AUTH, pipelines the envelope when the server
// offers PIPELINING, keeps to its SIZE limit and sends 8-bit text quoted-printable to a
// server that did not offer 8BITMIME. Without them the conversation is plain HELO SMTP.
//
// Failures: the transport's ESockError / EAbortError pass through unchanged (TLS failures
// among them); the client's own refusals are Exception with a fixed text ("Authentication
// failed", "Incomplete Header", "Invalid character in command", the texts of the
// submission checks below) or with the server's reply line; an attachment that changes
// between composition and sending raises the body stream's EReadError, and the message is
// not ended (Disconnect then closes without QUIT).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Component.h"
#include "base/Stream.h"
#include "mime/ExStringList.h"
#include "mime/MessageBodyStream.h"
#include "mime/MimeTypes.h"
#include "mime/PostMessage.h"
#include "smtp/EhloCapabilities.h"
#include "smtp/SubmissionOptions.h"
#include "transport/SockTransport.h"

class TSmtpClient : public TSockTransport {
public:
    // Port 25, EncodeType uuMime, ClearParams true, SubType mtPlain, empty UserID and
    // record; the transport's abort hook closes the connection without QUIT.
    explicit TSmtpClient(TComponent* AOwner = nullptr);
    // Sends no QUIT; an open connection is closed by the transport.
    ~TSmtpClient() override;

    // Opens the connection, reads the greeting to its last line and sends "HELO " +
    // UserID (one retry when OnAuthenticationFailed supplies another UserID). Raises the
    // transport's errors as they are; the last greeting line when the greeting is
    // refused; "Authentication failed" when HELO is refused. After a failure with the
    // connection open it sends QUIT and closes; the first error reaches the caller.
    // OnConnect follows a successful HELO.
    //
    // With submission options: implicit TLS before the greeting; EHLO instead of HELO (a
    // 5xx falls back to HELO unless TLS or a login is asked for, which then fails with the
    // reply); STARTTLS and EHLO again; AUTH. Raises "The server does not offer STARTTLS",
    // "The connection is not encrypted: the password is not sent", "The server offers no
    // login", "The server offers no login method that fits (it offers …)", or the server's
    // refusal of the login (its 535 line).
    void Connect() override;
    // QUIT, then close whatever the reply. Raises the transport's error, or the QUIT reply
    // line when its code is not from 200 to 339. Clears a pending cancel first, so QUIT
    // still goes out after Stop; only a send stopped inside the message data is closed
    // without QUIT, as the server would take it for message text.
    void Disconnect() override;
    // The transport's cancel: the waiting operation ends with its abort error.
    void Cancel() override;

    // One mail transaction over the open connection, for the message in PostMessage().
    // Returns at once, doing nothing, while Busy. Events in order: the composer's
    // attachment events, OnConnectionRequired, OnHeaderIncomplete, OnSendStart,
    // OnRecipientNotFound per refused recipient (the transaction goes on), OnPacketSent per
    // block of the body, OnFailure when the data is refused, OnSuccess once Busy is clear
    // (not when OnRecipientReply ended the recipients before any was accepted).
    void SendMail();
    // The envelope of the next SendMail calls, for a list sent in several transactions:
    // RCPT TO goes to these addresses (as they stand, no entry forms) instead of the
    // record's three lists, which then only feed the header block (an empty envelope is
    // the missing recipient of OnHeaderIncomplete), and the message is the one the first
    // SendMail after setting it composed, so every transaction carries the same bytes. The
    // addresses are not copied: their text must outlive the envelope. std::nullopt goes
    // back to the record's lists and a fresh composition.
    void SetEnvelope(std::optional<std::vector<std::string_view>> Addresses);
    // Security, login and extended SMTP of the next Connect.
    void SetSubmission(const TSubmissionOptions& Value) { FSubmission = Value; }
    const TSubmissionOptions& Submission() const { return FSubmission; }
    // What the last EHLO reply offered; empty after HELO.
    const TEhloCapabilities& Capabilities() const { return FCapabilities; }
    // The lines of the last EHLO reply as the server sent them (line ends dropped).
    const std::vector<std::string>& EhloReply() const { return FEhloReply; }
    // True when the connection was identified with EHLO.
    bool Extended() const { return FExtended; }
    // The login mechanism of the last successful AUTH ("" without one).
    const std::string& AuthMechanism() const { return FAuthMechanism; }

    // Empties ToAddress, ToCarbonCopy, ToBlindCarbonCopy and Attachments of the record.
    void ClearParameters();
    // Rebuilds FinalHeader, Boundary and BodyStream from the record.
    void ComposeMessage();

    // The mailbox of one recipient entry: inside the first "<...>" ("Ann <a@b>" -> a@b),
    // else after the first ":" ("to:a@b" -> a@b), else the entry itself; blanks and tabs around it dropped.
    // A view into Entry.
    static std::string_view ExtractAddress(std::string_view Entry);
    // "Invalid character in command" when Argument holds a CR, LF or NUL.
    static void CheckArgument(std::string_view Argument);

    const std::string& UserID() const { return FUserID; }
    void SetUserID(const std::string& Value) { FUserID = Value; }
    TPostMessage& PostMessage() { return *FPostMessage; }
    const TPostMessage& PostMessage() const { return *FPostMessage; }
    TExStringList& FinalHeader() { return *FFinalHeader; }
    // Copies the lines; composition overwrites them again.
    void SetFinalHeader(const TStringList& Value);
    // The body after the header block; it encodes the attachment files while it is sent,
    // and a file that changes meanwhile fails the send (mime/MessageBodyStream.h).
    TMessageBodyStream& BodyStream() { return *FBodyStream; }
    // Bytes of the composed message as DATA carries it: the header block with its two
    // line ends and the body (without the final "."). Known before the first byte is sent.
    int64_t ComposedSize() const;
    const std::string& Boundary() const { return FBoundary; }
    UUMethods EncodeType() const { return FEncodeType; }
    void SetEncodeType(UUMethods Value) { FEncodeType = Value; }
    bool ClearParams() const { return FClearParams; }
    void SetClearParams(bool Value) { FClearParams = Value; }
    TSubType SubType() const { return FSubType; }
    void SetSubType(TSubType Value) { FSubType = Value; }
    bool Busy() const { return FBusy; }

    // Raised after the greeting and a successful HELO; takes the place of the transport's.
    TNotifyEvent OnConnect;
    THeaderInComplete OnHeaderIncomplete;
    TNotifyEvent OnSendStart;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;
    TRecipientNotFound OnRecipientNotFound;
    // Part of the published interface; no operation raises it.
    TMailListReturn OnMailListReturn;
    THandlerEvent OnAuthenticationFailed;
    // Each RCPT TO reply (entry, or the envelope's address; first line's code; last line),
    // before OnRecipientNotFound.
    // Returning false ends the recipients of this transaction without counting the entry
    // refused: DATA follows when the server accepted some, else the transaction ends there
    // (so does a transaction to an envelope whose every recipient was refused).
    std::function<bool(std::string_view Recipient, int Code, const std::string& Reply)> OnRecipientReply;

private:
    // Sends one command and reads its whole reply; returns the first line, whose code is
    // ReplyCode. Every command of the transaction goes through here.
    std::string Command(const std::string& Line);
    // Command, and the reply line as an Exception when its code is not from 200 to Limit.
    void Expect(const std::string& Line, int Limit);
    // Reads reply lines after First until the last line of that reply; returns that line.
    std::string ReadContinuation(const std::string& First);
    std::string ReadReplyLine();
    void ReadGreeting();
    // The one chance to give another HELO/EHLO name: "Authentication failed" after a second
    // refusal, with no handler, or when the handler leaves Handled false.
    void RetryWithNewUserID(int& Refusals);
    void SayHello();
    // Reads one whole reply; returns its lines, the first line's code in Code.
    std::vector<std::string> ReadReply(int& Code);
    // EHLO with its fallback; fills the capabilities.
    void SayEhlo();
    void Identify();
    void Login();
    TTlsSettings TlsSettings() const;
    // Checks the message against the server's SIZE; the MAIL FROM parameters.
    std::string MailParameters();
    // The transaction with PIPELINING: the envelope goes out in windows, replies are read in order.
    bool TransactPipelined();
    // The message data after DATA was accepted, to the reply to ".".
    void SendData();
    // Reads the replies of pipelined commands nobody will look at (before QUIT).
    void DrainPipeline();
    void CheckComplete();
    void CheckArguments();
    // The commands of one mail transaction, RSET to the end of the data.
    // Returns false when the recipients ended with none accepted (no DATA was sent).
    bool Transact();
    void AbortConnection();

    std::unique_ptr<TPostMessage> FPostMessage;
    std::unique_ptr<TMessageBodyStream> FBodyStream;
    std::unique_ptr<TExStringList> FFinalHeader;
    bool FBusy = false;
    std::string FUserID;
    std::string FBoundary;
    TSubType FSubType = mtPlain;
    UUMethods FEncodeType = uuMime;
    bool FClearParams = true;
    bool FInData = false;  // DATA accepted and "." not yet handed to the socket
    std::optional<std::vector<std::string_view>> FEnvelope;
    bool FComposed = false;      // the envelope's message is composed
    std::string FLastReplyLine;  // the last line of the reply Command read
    TSubmissionOptions FSubmission;
    TEhloCapabilities FCapabilities;
    std::vector<std::string> FEhloReply;
    bool FExtended = false;
    bool FBody8Bit = false;  // the composed message holds bytes >= 0x80
    std::string FAuthMechanism;
    int FPipelined = 0;           // pipelined commands whose replies are not read yet
    bool FDataPipelined = false;  // DATA is the last of them
};
