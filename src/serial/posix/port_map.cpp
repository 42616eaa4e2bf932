#include "serial/posix/port_map.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <vector>

namespace sio {

namespace {

// A variable that is set but empty counts as unset.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = Environment("HOME");
    if (!home.empty())
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return {};
}

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i])
            return false;
    }
    return true;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;  // a dangling link still names the port
}

std::string FallbackPath(int number) {
    if (number >= 1 && number <= 4)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number >= 5 && number <= 8)
        return "/dev/ttyUSB" + std::to_string(number - 5);
    if (number >= 9 && number <= 12)
        return "/dev/ttyACM" + std::to_string(number - 9);
    return {};
}

}  // namespace

int PortNumberFromName(std::string_view name) {
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    if (name.substr(0, kDevicePrefix.size()) == kDevicePrefix)
        name.remove_prefix(kDevicePrefix.size());
    if (name.size() < 4 || !EqualsIgnoringCase(name.substr(0, 3), "COM"))
        return 0;
    std::string_view digits = name.substr(3);
    // "COM05" is not COM5's name, and the link file would be com5.
    if (digits.front() < '1' || digits.front() > '9')
        return 0;
    int number = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size())
        return 0;
    return number;
}

std::string DeviceNameFor(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

std::string PortDirectory() {
    std::string dir = Environment("SIO_PORT_DIR");
    if (!dir.empty())
        return dir;
    std::string config = Environment("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the
    // convention asks.
    if (config.empty() || config.front() != '/') {
        std::string home = HomeDirectory();
        if (home.empty())
            return {};
        config = home + "/.config";
    }
    return config + "/sio/ports";
}

std::string PortPath(int number) {
    if (number < 1)
        return {};
    std::string dir = PortDirectory();
    if (!dir.empty()) {
        std::string link = dir + "/com" + std::to_string(number);
        if (Exists(link))
            return link;
    }
    if (!Environment("SIO_PORT_DIR").empty())
        return {};
    return FallbackPath(number);
}

}  // namespace sio
