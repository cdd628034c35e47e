#include "support/PythonPeer.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

TPythonPeer::TPythonPeer(const std::string& Script, const std::vector<std::string>& Args)
{
    std::vector<std::string> words{"/usr/bin/python3", QUILLCAST_TESTS_DIR "/" + Script};
    words.insert(words.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
        FError = "no pipe";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (FPid > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 20000) == 1 && read(out[0], &c, 1) == 1)
        line += c;
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0)
        FPort = static_cast<uint16_t>(std::stoi(line.substr(5)));
    else
        FError = Script + " did not start: " + line;
}

TPythonPeer::~TPythonPeer()
{
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
}
