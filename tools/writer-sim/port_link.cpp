#include "port_link.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace writersim {

namespace fs = std::filesystem;

PortLink::PortLink(const std::string& port_dir, int com, const std::string& target) {
    const fs::path dir(port_dir);
    fs::create_directories(dir);
    const fs::path link = dir / ("com" + std::to_string(com));

    std::error_code ec;
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::exists(status)) {
        const bool dangling = fs::is_symlink(status) && !fs::exists(link, ec);
        if (!dangling) {
            throw std::runtime_error(link.string() + " already exists; is another device linked as COM" +
                                     std::to_string(com) + "?");
        }
        fs::remove(link);
    }
    fs::create_symlink(target, link);
    path_ = link.string();
    target_ = target;
}

PortLink::PortLink(PortLink&& other) noexcept
    : path_(std::exchange(other.path_, {})), target_(std::exchange(other.target_, {})) {}

PortLink& PortLink::operator=(PortLink&& other) noexcept {
    if (this != &other) {
        Remove();
        path_ = std::exchange(other.path_, {});
        target_ = std::exchange(other.target_, {});
    }
    return *this;
}

PortLink::~PortLink() { Remove(); }

void PortLink::Remove() {
    if (path_.empty()) return;
    std::error_code ec;
    if (fs::read_symlink(path_, ec) == fs::path(target_) && !ec) fs::remove(path_, ec);
    path_.clear();
    target_.clear();
}

}  // namespace writersim
