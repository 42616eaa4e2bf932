// A temporary port directory ($SIO_PORT_DIR) in which COM numbers are linked
// to devices, for the lifetime of the object. It is the lock folder
// ($SIO_LOCK_DIR) as well, so no test reaches /run/lock.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "scoped_env.h"

namespace sio::test {

// <dir>/comN -> target, replacing what stood under that name.
inline void LinkComPort(const std::string& dir, int number, const std::string& target) {
    std::string link = dir + "/com" + std::to_string(number);
    ::unlink(link.c_str());
    if (::symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot link " + link);
}

class ScopedPortDir {
public:
    ScopedPortDir() : dir_(MakeDir()), env_("SIO_PORT_DIR", dir_), lockEnv_("SIO_LOCK_DIR", dir_) {}
    ~ScopedPortDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    ScopedPortDir(const ScopedPortDir&) = delete;
    ScopedPortDir& operator=(const ScopedPortDir&) = delete;

    const std::string& path() const { return dir_; }

    // comN -> target
    void Link(int number, const std::string& target) { LinkComPort(dir_, number, target); }

private:
    static std::string MakeDir() {
        char pattern[] = "/tmp/sio-ports-XXXXXX";
        if (!::mkdtemp(pattern))
            throw std::runtime_error("no temporary directory");
        return pattern;
    }

    std::string dir_;
    ScopedEnv env_;
    ScopedEnv lockEnv_;
};

}  // namespace sio::test
