// A loopback SMTP sink for the benchmarks that takes at most N recipients per transaction
// and answers "452 4.5.3 Too many recipients" past them (postfix's smtp-sink cannot limit
// recipients). One connection at a time, blocking, buffered reads: it answers as fast as
// the client asks, so the client's time is what gets measured.
//
//   smtp_limit_sink PORT-FILE MAX   (MAX 0 = no limit); writes its port to PORT-FILE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class TConnection {
public:
    explicit TConnection(int Fd) : FFd(Fd) {}
    // One line without CR LF; false at close.
    bool ReadLine(std::string& Line)
    {
        for (;;) {
            const size_t Lf = FBuffer.find('\n', FAt);
            if (Lf != std::string::npos) {
                Line.assign(FBuffer, FAt, Lf - FAt);
                if (!Line.empty() && Line.back() == '\r') Line.pop_back();
                FAt = Lf + 1;
                return true;
            }
            if (!Fill()) return false;
        }
    }
    // Skips the message data up to and including the line ".".
    bool SkipData()
    {
        std::string Line;
        while (ReadLine(Line))
            if (Line == ".") return true;
        return false;
    }
    void Reply(const char* Text)
    {
        const std::string Out = std::string(Text) + "\r\n";
        for (size_t Sent = 0; Sent < Out.size();) {
            const ssize_t N = send(FFd, Out.data() + Sent, Out.size() - Sent, MSG_NOSIGNAL);
            if (N <= 0) return;
            Sent += static_cast<size_t>(N);
        }
    }

private:
    bool Fill()
    {
        FBuffer.erase(0, FAt);
        FAt = 0;
        char Chunk[65536];
        const ssize_t N = recv(FFd, Chunk, sizeof Chunk, 0);
        if (N <= 0) return false;
        FBuffer.append(Chunk, static_cast<size_t>(N));
        return true;
    }
    int FFd;
    std::string FBuffer;
    size_t FAt = 0;
};

bool Starts(const std::string& Line, const char* Verb) { return strncasecmp(Line.c_str(), Verb, strlen(Verb)) == 0; }

void Serve(int Fd, int Max)
{
    TConnection C(Fd);
    C.Reply("220 limit-sink ready");
    int Recipients = 0;
    for (std::string Line; C.ReadLine(Line);) {
        if (Starts(Line, "RCPT")) {
            if (Max > 0 && Recipients >= Max) {
                C.Reply("452 4.5.3 Too many recipients");
            } else {
                ++Recipients;
                C.Reply("250 2.1.5 Ok");
            }
        } else if (Starts(Line, "DATA")) {
            C.Reply("354 End data with <CR><LF>.<CR><LF>");
            if (!C.SkipData()) return;
            Recipients = 0;
            C.Reply("250 2.0.0 Ok: queued");
        } else if (Starts(Line, "RSET") || Starts(Line, "MAIL")) {
            Recipients = 0;
            C.Reply("250 2.0.0 Ok");
        } else if (Starts(Line, "QUIT")) {
            C.Reply("221 2.0.0 Bye");
            return;
        } else {
            C.Reply("250 limit-sink");
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: smtp_limit_sink PORT-FILE MAX\n");
        return 2;
    }
    const int Max = std::atoi(argv[2]);
    const int Listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof Addr;
    if (Listener < 0 || bind(Listener, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 ||
        listen(Listener, 16) != 0 || getsockname(Listener, reinterpret_cast<sockaddr*>(&Addr), &Len) != 0) {
        std::perror("smtp_limit_sink");
        return 1;
    }
    if (FILE* F = std::fopen(argv[1], "w")) {
        std::fprintf(F, "%d\n", ntohs(Addr.sin_port));
        std::fclose(F);
    }
    for (;;) {
        const int Fd = accept(Listener, nullptr, nullptr);
        if (Fd < 0) continue;
        const int One = 1;
        setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
        Serve(Fd, Max);
        close(Fd);
    }
}
