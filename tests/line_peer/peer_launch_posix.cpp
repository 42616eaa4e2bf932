// SharedLinePeer on Linux: the runner's peer, or one started here. The peer
// is exec'd, not just forked: a forked copy of a threaded test program could
// not start threads of its own under ThreadSanitizer, and an exec'd program
// holds none of this process's locks.
#include "peer_client.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "line_io.h"
#include "peer_protocol.h"
#include "serial/posix/unique_fd.h"

extern char** environ;

namespace sio::peer {
namespace {

// A peer this process started: asked to quit and waited for at exit.
class StartedPeer {
public:
    StartedPeer() {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        UniqueFd readEnd(out[0]), writeEnd(out[1]);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
        // --once: the peer ends with this process even if it never says QUIT.
        char* argv[] = {const_cast<char*>(LINE_PEER_PATH), const_cast<char*>("--once"), nullptr};
        const int spawned = ::posix_spawn(&pid_, LINE_PEER_PATH, &actions, nullptr, argv, environ);
        ::posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return;
        }
        writeEnd.reset();
        // "PORT <n>\n"
        std::string line;
        while (line.find('\n') == std::string::npos) {
            std::string more = test::ReadUpTo(readEnd.get(), 1);
            if (more.empty())
                return;
            line += more;
        }
        if (line.rfind("PORT ", 0) != 0)
            return;
        if (auto transport = ConnectTcp("127.0.0.1:" + line.substr(5, line.size() - 6)))
            client_ = std::make_unique<LinePeer>(std::move(transport));
    }
    ~StartedPeer() {
        if (client_)
            client_->Quit();
        else if (pid_ > 0)
            ::kill(pid_, SIGTERM);  // never connected: it would wait for us for ever
        client_.reset();  // the peer also ends when its connection does
        if (pid_ > 0) {
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    LinePeer* Client() { return client_.get(); }

private:
    pid_t pid_ = -1;
    std::unique_ptr<LinePeer> client_;
};

}  // namespace

LinePeer* SharedLinePeer() {
    if (const char* address = ::getenv(kAddressVariable)) {
        static std::unique_ptr<LinePeer> runners = [address] {
            auto transport = ConnectTcp(address);
            return transport ? std::make_unique<LinePeer>(std::move(transport)) : nullptr;
        }();
        return runners.get();
    }
    static StartedPeer started;
    return started.Client();
}

}  // namespace sio::peer
