#pragma once
// A scripted loopback server for socket tests: listens on 127.0.0.1 at a port the system
// picks, and in a thread of its own, with blocking sockets, plays a list of steps against
// the connections it accepts. Every byte it receives is recorded.
//
//   TScriptedServer server;
//   server.SendLine("220 ready")          // S: 220 ready
//         .Expect("HELO me")              // C: HELO me   (one line, compared without CR LF)
//         .SendLine("250 ok")
//         .Close();
//   server.Start();
//   ... drive the client against server.Port() ...
//   EXPECT_TRUE(server.Finished());       // every step consumed, no mismatch
//
// Or the same as text: server.Script("S: 220 ready\nC: HELO me\nS: 250 ok\n");
// A script that does not begin with Accept() accepts one connection first. A failed
// step (mismatch, time-out, connection gone) ends the script; Finished() says which.
// Once the script is done the connection stays open, unread, until Stop().
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

class TScriptedServer {
public:
    TScriptedServer();   // binds and listens at once, so Port() is valid
    ~TScriptedServer();  // stops the thread, closes everything (not copyable: a mutex)

    uint16_t Port() const { return FPort; }

    // ---- steps (add before Start)
    TScriptedServer& Accept() { return Add(skAccept); }                           // the next connection
    TScriptedServer& Send(const std::string& Data) { return Add(skSend, Data); }  // as they stand
    TScriptedServer& SendLine(const std::string& Line) { return Send(Line + "\r\n"); }
    // One line equal to Line + CR LF.
    TScriptedServer& Expect(const std::string& Line) { return Add(skExpect, Line + "\r\n"); }
    TScriptedServer& ExpectBytes(size_t Count) { return Add(skExpectBytes, "", Count); }  // any bytes
    // Everything up to and including Terminator (e.g. "\r\n.\r\n").
    TScriptedServer& ExpectUntil(const std::string& Terminator) { return Add(skExpectUntil, Terminator); }
    // Reads lines until Count came, answering each with Reply + CR LF at once.
    TScriptedServer& AnswerLines(int Count, const std::string& Reply) { return Add(skAnswer, Reply + "\r\n", Count); }
    TScriptedServer& Sink() { return Add(skSink); }                // discards all until the peer closes
    TScriptedServer& ExpectClose() { return Add(skExpectClose); }  // the peer closes (EOF or reset)
    TScriptedServer& Pause(int Ms) { return Add(skPause, "", Ms); }
    TScriptedServer& Stall() { return Add(skStall); }  // ends the script, holding the connection
    TScriptedServer& Close() { return Add(skClose); }  // graceful close of the connection
    TScriptedServer& Reset() { return Add(skReset); }  // close with RST (linger 0)
    // Lines "S: text" (send text + CR LF), "C: text" (expect), "D:" (message data up to its
    // final "."), "X:" (close), each tag at the start of its line; blank lines ignored.
    TScriptedServer& Script(const std::string& Text);

    // Whether to keep received bytes (off for big transfers); the count is always kept.
    void SetRecordBytes(bool Value) { FRecordBytes = Value; }

    void Start();
    // Ends a stalled or waiting script and joins the thread.
    void Stop();
    // Waits (at most TimeoutMs) for the script to end; success only when every step ran
    // without a mismatch.
    ::testing::AssertionResult Finished(int TimeoutMs = 10000);

    std::string Received() const { return Locked(FReceived); }  // every byte, in order
    uint64_t ReceivedCount() const { return Locked(FReceivedCount); }
    int Connections() const { return Locked(FConnections); }  // accepted so far

private:
    // The steps before skSend need no open connection.
    // clang-format off
    enum TStepKind { skAccept, skPause, skStall, skSend, skExpect, skExpectBytes, skExpectUntil, skAnswer,
                     skSink, skExpectClose, skClose, skReset };
    // clang-format on
    struct TStep {
        TStepKind Kind;
        std::string Text;
        size_t Count;
    };
    TScriptedServer& Add(TStepKind Kind, std::string Text = "", size_t Count = 0);
    template <typename T>
    T Locked(const T& Value) const
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return Value;
    }

    // ---- on the server's thread
    void Run();
    // Plays one step; returns "" or what went wrong.
    std::string Play(const TStep& Step);
    // Waits until Fd is readable; false on time-out (TimeoutMs < 0: none) or Stop.
    bool WaitReadable(int Fd, int TimeoutMs) const;
    // Reads more into FPending: the count, 0 when the client closed or reset, -1 on
    // time-out or Stop.
    long Fill();
    // Fills until End() gives the length of what to take (npos: not there yet) and takes
    // it into Taken; false when the bytes stopped coming first.
    bool Take(const std::function<size_t()>& End, std::string* Taken = nullptr);
    bool ReadLine(std::string& Line);
    bool SendAll(const std::string& Data) const;
    void CloseConnection(bool Reset);

    int FListenFd = -1;
    uint16_t FPort = 0;
    int FWakePipe[2] = {-1, -1};  // written by Stop
    int FFd = -1;                 // the connection
    std::string FPending;         // read from it but not yet consumed
    bool FRecordBytes = true;
    std::vector<TStep> FSteps;
    std::thread FThread;
    mutable std::mutex FMutex;  // guards what follows
    std::condition_variable FChanged;
    std::string FReceived;
    uint64_t FReceivedCount = 0;
    int FConnections = 0;
    size_t FStepsDone = 0;
    bool FFinished = false;
    std::string FError;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
uint16_t UnusedLoopbackPort();
