// Test helpers: a pseudo-terminal whose master side the test holds, and a
// temporary port directory ($SIO_PORT_DIR) in which COM numbers are linked
// to such terminals.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace sio::test {

// How long a helper waits for the other side before the test fails.
inline constexpr int kPatienceMilliseconds = 10000;

class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("no slave name");
        slavePath_ = name;
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    void CloseMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    // Writes everything, waiting for room as the slave's reader takes bytes.
    bool WriteMaster(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::write(master_, data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (!WaitFor(POLLOUT))
                return false;
        }
        return true;
    }

    // Reads exactly n bytes; fewer when the slave side goes quiet too long.
    std::string ReadMaster(std::size_t n) {
        std::string data;
        char buffer[65536];
        while (data.size() < n) {
            ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, n - data.size()));
            if (got > 0) {
                data.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (!WaitFor(POLLIN))
                break;
        }
        return data;
    }

    bool WaitFor(short events) {
        pollfd fd{master_, events, 0};
        return ::poll(&fd, 1, kPatienceMilliseconds) > 0 && (fd.revents & events);
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

// Points $SIO_PORT_DIR at a fresh directory for the lifetime of the object.
class ScopedPortDir {
public:
    ScopedPortDir() {
        char pattern[] = "/tmp/sio-ports-XXXXXX";
        if (!::mkdtemp(pattern))
            throw std::runtime_error("no temporary directory");
        dir_ = pattern;
        if (const char* old = std::getenv("SIO_PORT_DIR"))
            previous_ = old;
        ::setenv("SIO_PORT_DIR", dir_.c_str(), 1);
    }
    ~ScopedPortDir() {
        if (previous_)
            ::setenv("SIO_PORT_DIR", previous_->c_str(), 1);
        else
            ::unsetenv("SIO_PORT_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    ScopedPortDir(const ScopedPortDir&) = delete;
    ScopedPortDir& operator=(const ScopedPortDir&) = delete;

    const std::string& path() const { return dir_; }

    // comN -> target
    void Link(int number, const std::string& target) {
        std::string link = dir_ + "/com" + std::to_string(number);
        ::unlink(link.c_str());
        if (::symlink(target.c_str(), link.c_str()) != 0)
            throw std::runtime_error("cannot link " + link);
    }

private:
    std::string dir_;
    std::optional<std::string> previous_;
};

// Entries of a /proc/self directory: open descriptors ("fd") or threads ("task").
inline int CountProcEntries(const char* what) {
    std::string path = std::string("/proc/self/") + what;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count - (std::string(what) == "fd" ? 1 : 0);  // the directory's own descriptor
}

}  // namespace sio::test
