#pragma once
// TSendRun: carries out one TSendRequest on an SMTP client: one connection, as many mail
// transactions as the list needs, then QUIT. A transaction ends at the request's recipient
// limit or at a 452 reply to RCPT TO (RFC 5321 4.5.3.1.10); the next one starts on the same
// connection with the recipients not yet accepted and the same message bytes. With no
// limit and no 452 it is the single transaction of the client's SendMail.
//
// The client's own handlers stay bound: prompts, status events, OnSuccess (once, after the
// last transaction, with the connection still open) and, when refusals hang up,
// OnRecipientNotFound followed by the hang-up. Failures: whatever Connect, SendMail or
// Disconnect raise; the first error is raised after the connection is closed, and the
// report holds every row reached so far. A failed connect leaves its socket error's text
// in ConnectFailure(). A hang-up the run chose (a refusal in hang-up mode) is not a
// failure: what it brings about ("Connection closed" and the like) is not raised, and
// HungUp() says it happened. After Stop() the run raises the cancel error of the wait
// it interrupted (or "Socket readln aborted" when it was between transactions).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Component.h"
#include "send/SendReport.h"
#include "send/SendRequest.h"

class TSmtpClient;

// Where the conversation is, for the progress line.
enum class TSendPhase {
    Connecting,  // looking up the host and connecting
    Greeting,    // connected, waiting for the greeting and the HELO reply
    Recipients,  // RCPT TO replies: RecipientsSent of RecipientsTotal
    Message,     // the message data: BytesSent of BytesTotal
    Answer,      // the whole message went out; waiting for the server's verdict
};

struct TSendProgress {
    TSendPhase Phase = TSendPhase::Connecting;
    int Transaction = 0;     // 1-based
    int RecipientsDone = 0;  // entries settled before this transaction
    int RecipientsInTransaction = 0;
    int RecipientsTotal = 0;
    bool Split = false;      // the list spans more than one transaction
    int RecipientsSent = 0;  // RCPT TO replies so far, all transactions
    int64_t BytesSent = 0;   // of this transaction's message
    int64_t BytesTotal = 0;
};

class TSendRun {
public:
    explicit TSendRun(TSmtpClient& Client);

    // Runs Request to its end; see the class comment for what it raises.
    void Run(const TSendRequest& Request);
    // The same, with the request's entries moved into the report rather than copied: a
    // long list is held once.
    void Run(TSendRequest&& Request);
    // Connects as Run would (TLS, EHLO, login), sends nothing, says QUIT and returns what
    // the server offered, one text line each: the server's EHLO lines (its name first,
    // then "SIZE 35882577", "AUTH PLAIN LOGIN", …), then "TLS: server certificate SHA-256
    // AB:CD:…" over TLS and "Logged in as NAME (PLAIN)" after a login. Raises what Connect
    // raises (the client's Cancel ends it with the transport's abort error).
    std::vector<std::string> Probe(const TSendRequest& Request);

    const TSendReport& Report() const { return FReport; }
    int Transactions() const { return FTransactions; }
    // True once the server accepted the message in at least one transaction.
    bool Delivered() const { return FDelivered; }
    // "10061:Connection refused" after "Connection Failed"; empty otherwise.
    const std::string& ConnectFailure() const { return FConnectFailure; }
    // The conversation ended on purpose after a refused recipient (hang-up mode).
    bool HungUp() const { return FHungUp; }

    // Ends the run at once, from a handler that runs while it waits (the Stop button):
    // the wait in progress ends with its cancel error, and the connection is closed
    // without QUIT, so no later wait can hold the caller. Does nothing when not running.
    void Stop();
    bool Stopped() const { return FStopped; }
    // True when Stop came after a whole message had gone out and before the server's
    // answer to it was read: the server may have taken that message.
    bool StoppedAfterMessage() const { return FStoppedAfterMessage; }

    // At the start of each transaction and per block of its message.
    std::function<void(const TSendProgress&)> OnProgress;
    // Each row once its outcome is settled (refusals and deferrals as they come,
    // acceptances when their transaction's message was accepted).
    std::function<void(const TSendRow&)> OnRecipient;
    // After each transaction that sent the message.
    std::function<void(const TSendProgress&)> OnTransactionDone;

private:
    // Entries: the request's own list when the report may take its entries, else null.
    void Execute(const TSendRequest& Request, std::vector<std::string>* Entries);
    void Prepare(const TSendRequest& Request, std::vector<std::string>* Entries);
    void PrepareConnection(const TSendRequest& Request);
    void Converse(const TSendRequest& Request);
    void Pause(int Ms);
    void Settle(TSendRow& Row, TSendOutcome Outcome);
    void Progress(TSendPhase Phase);

    TSmtpClient& FClient;
    TSendReport FReport;
    TSendProgress FProgress;
    int FTransactions = 0;
    bool FDelivered = false;
    bool FRunning = false;
    bool FHungUp = false;
    bool FStopped = false;
    bool FStoppedAfterMessage = false;
    std::string FConnectFailure;
    TNotifyEvent FSuccess;  // the client's OnSuccess, raised once per run
};
