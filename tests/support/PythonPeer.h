#pragma once
// A peer written in Python (Debian's /usr/bin/python3) for tests: started with its
// arguments, it prints "PORT <n>" once it listens on 127.0.0.1; stopped (SIGTERM) with
// the object.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class TPythonPeer {
public:
    // Script: a path under tests/ ("support/tls_echo_peer.py").
    TPythonPeer(const std::string& Script, const std::vector<std::string>& Args);
    ~TPythonPeer();
    TPythonPeer(const TPythonPeer&) = delete;
    TPythonPeer& operator=(const TPythonPeer&) = delete;

    // 0 when it did not start; StartError() then says why.
    uint16_t Port() const { return FPort; }
    const std::string& StartError() const { return FError; }

private:
    pid_t FPid = -1;
    uint16_t FPort = 0;
    std::string FError;
};
