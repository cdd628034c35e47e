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
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

// The live connection handed to a Do() step.
class TServerConnection {
public:
    explicit TServerConnection(int Fd) : FFd(Fd) {}
    int Fd() const { return FFd; }
    // One line up to and including LF; false at close or time-out.
    bool ReadLine(std::string& Line);
    // Exactly Count bytes; false when fewer came.
    bool ReadBytes(size_t Count, std::string& Data);
    bool SendAll(const std::string& Data);

    // Waits for more bytes into Pending(); false at close, time-out or stop.
    bool Fill();
    std::string& Pending() { return FPending; }

private:
    friend class TScriptedServer;
    int FFd;
    std::string FPending;  // read but not yet consumed
    class TScriptedServer* FServer = nullptr;
};

class TScriptedServer {
public:
    using TStepFn = std::function<bool(TServerConnection& Conn, std::string& Error)>;

    TScriptedServer();   // binds and listens at once, so Port() is valid
    ~TScriptedServer();  // stops the thread, closes everything
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    uint16_t Port() const { return FPort; }

    // ---- steps (add before Start)
    TScriptedServer& Accept();                          // the next connection
    TScriptedServer& Send(const std::string& Data);     // bytes as they stand
    TScriptedServer& SendLine(const std::string& Line); // Line + CR LF
    // Bytes in pieces, pausing PauseMs after each piece but the last.
    TScriptedServer& SendPieces(const std::vector<std::string>& Pieces, int PauseMs);
    TScriptedServer& Expect(const std::string& Line);   // one line equal to Line + CR LF
    TScriptedServer& ExpectBytes(size_t Count);         // any Count bytes
    // Everything up to and including Terminator (e.g. "\r\n.\r\n").
    TScriptedServer& ExpectUntil(const std::string& Terminator);
    // Reads lines until Count came, answering each with Reply + CR LF at once.
    TScriptedServer& AnswerLines(int Count, const std::string& Reply);
    // Reads and discards until the peer closes (counted in Received, not stored).
    TScriptedServer& Sink();
    TScriptedServer& ExpectClose();                     // the peer closes (EOF)
    TScriptedServer& Pause(int Ms);
    // Holds the connection open without reading until the server is destroyed or Stop().
    TScriptedServer& Stall();
    TScriptedServer& Close();                           // graceful close of the connection
    TScriptedServer& Reset();                           // close with RST (linger 0)
    TScriptedServer& Do(TStepFn Fn);                    // custom step
    // Lines "S: text" (send text + CR LF), "C: text" (expect), "D:" (message data up to its
    // final "."), "X:" (close); blank lines ignored.
    TScriptedServer& Script(const std::string& Text);

    // Whether to keep received bytes (off for big transfers); the count is always kept.
    void SetRecordBytes(bool Value) { FRecordBytes = Value; }

    void Start();
    // Ends a stalled or waiting script and joins the thread.
    void Stop();
    // Waits (at most TimeoutMs) for the script to end; success only when every step ran
    // without a mismatch.
    ::testing::AssertionResult Finished(int TimeoutMs = 10000);
    // Whether the thread has run every step (no wait).
    bool Done() const;

    std::string Received() const;        // every byte received, in order
    uint64_t ReceivedCount() const;
    int Connections() const;             // connections accepted so far

private:
    friend class TServerConnection;
    struct TStep {
        std::string Name;
        std::function<bool(TScriptedServer& Server, std::string& Error)> Fn;
    };
    TScriptedServer& Add(std::string Name, std::function<bool(TScriptedServer&, std::string&)> Fn);
    void Run();
    void Record(const char* Data, size_t Count);
    bool Stopping() const;
    // Waits until Fd is readable; false on time-out (TimeoutMs < 0: none) or stop.
    bool WaitReadable(int Fd, int TimeoutMs) const;
    void CloseConnection(bool Reset);
    bool NeedConnection(std::string& Error);

    int FListenFd = -1;
    uint16_t FPort = 0;
    int FStepTimeoutMs = 10000;  // how long a read step waits for the client
    bool FRecordBytes = true;
    std::vector<TStep> FSteps;
    std::thread FThread;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::unique_ptr<TServerConnection> FConn;
    bool FStalled = false;
    bool FStarted = false;
    std::string FReceived;
    uint64_t FReceivedCount = 0;
    int FConnections = 0;
    size_t FStepsDone = 0;
    bool FFinished = false;
    std::string FError;
    bool FStop = false;
    int FWakePipe[2] = {-1, -1};
};

// A listener whose backlog is full and that never accepts: a connect to it hangs.
class TBlackHoleListener {
public:
    TBlackHoleListener();
    ~TBlackHoleListener();
    uint16_t Port() const { return FPort; }

private:
    int FListenFd = -1;
    std::vector<int> FFillers;
    uint16_t FPort = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
uint16_t UnusedLoopbackPort();
