#include "peer_client.h"

#include <sstream>

namespace sio::peer {

std::string LinePeer::Exchange(const std::lock_guard<std::mutex>&, const std::string& request,
                               const std::string& payload) {
    std::string message = request + "\n" + payload;
    std::string reply;
    if (!transport_->Send(message.data(), message.size()) || !ReadLine(reply))
        return {};
    return reply;
}

bool LinePeer::ReadLine(std::string& line) {
    line.clear();
    char c;
    while (transport_->Receive(&c, 1)) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

std::string LinePeer::Link(int com, const std::string& dir) {
    std::lock_guard held(lock_);
    std::string reply = Exchange(held, "LINK " + std::to_string(com) + (dir.empty() ? "" : " " + dir));
    return reply.rfind("OK ", 0) == 0 ? reply.substr(3) : std::string();
}

bool LinePeer::Send(int com, const std::string& bytes) {
    std::lock_guard held(lock_);
    return Exchange(held, "SEND " + std::to_string(com) + " " + std::to_string(bytes.size()), bytes) == "OK";
}

std::string LinePeer::Receive(int com, std::size_t size, int quietMilliseconds) {
    std::lock_guard held(lock_);
    std::string reply = Exchange(held, "RECV " + std::to_string(com) + " " + std::to_string(size) + " " +
                                           std::to_string(quietMilliseconds));
    if (reply.rfind("DATA ", 0) != 0)
        return {};
    std::string bytes(std::stoul(reply.substr(5)), '\0');
    if (!bytes.empty() && !transport_->Receive(bytes.data(), bytes.size()))
        return {};
    return bytes;
}

std::optional<FarLineSettings> LinePeer::Settings(int com) {
    std::lock_guard held(lock_);
    std::string reply = Exchange(held, "LINE " + std::to_string(com));
    if (reply.rfind("OK ", 0) != 0)
        return std::nullopt;
    FarLineSettings settings;
    std::istringstream words(reply.substr(3));
    for (std::string word; words >> word;) {
        const auto equals = word.find('=');
        if (equals == std::string::npos)
            return std::nullopt;
        const std::string key = word.substr(0, equals);
        const int value = std::stoi(word.substr(equals + 1));
        if (key == "baud") settings.baud = value;
        else if (key == "stop") settings.stopBits = value;
        else if (key == "rtscts") settings.rtsCts = value != 0;
        else if (key == "ixon") settings.ixon = value != 0;
        else if (key == "ixoff") settings.ixoff = value != 0;
        else if (key == "xon") settings.xon = value;
        else if (key == "xoff") settings.xoff = value;
        else if (key == "raw") settings.raw = value != 0;
    }
    return settings;
}

bool LinePeer::PacketMode(int com, bool on) {
    std::lock_guard held(lock_);
    return Exchange(held, "PACKET " + std::to_string(com) + (on ? " 1" : " 0")) == "OK";
}

bool LinePeer::HangUp(int com) {
    std::lock_guard held(lock_);
    return Exchange(held, "HANGUP " + std::to_string(com)) == "OK";
}

std::string LinePeer::Ask(const std::string& request) {
    std::lock_guard held(lock_);
    std::string reply = Exchange(held, request);
    if (reply.rfind("DATA ", 0) != 0)
        return reply;
    std::string bytes(std::stoul(reply.substr(5)), '\0');
    if (!bytes.empty() && !transport_->Receive(bytes.data(), bytes.size()))
        return {};
    return bytes;
}

bool LinePeer::Quit() {
    std::lock_guard held(lock_);
    return Exchange(held, "QUIT") == "OK";
}

}  // namespace sio::peer
