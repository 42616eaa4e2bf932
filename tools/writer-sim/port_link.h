// The name under which the program finds the simulated device: a symbolic
// link <port dir>/com<N> to the pseudo-terminal's slave, as the port map
// reads it.
#pragma once

#include <string>

namespace writersim {

class PortLink {
public:
    PortLink() = default;
    // Creates the directory if needed and the link in it. A link left behind
    // by a simulator that was killed points to a slave that no longer exists
    // and is replaced; anything else under that name is left alone and
    // reported. Throws std::system_error or std::runtime_error.
    PortLink(const std::string& port_dir, int com, const std::string& target);
    PortLink(PortLink&& other) noexcept;
    PortLink& operator=(PortLink&& other) noexcept;
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;
    ~PortLink();

    // Removes the link, but only while it still points to our device.
    void Remove();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string target_;
};

}  // namespace writersim
