#include "peer_line.h"

#include <stdexcept>

namespace sio::contract {
namespace {

class PeerLine final : public Line {
public:
    PeerLine(int com, const std::string& portDir) : peer_(peer::SharedLinePeer()), com_(com), portDir_(portDir) {
        if (!peer_)
            throw std::runtime_error("no line peer");
        Reopen();
    }
    ~PeerLine() override { peer_->HangUp(com_); }

    bool Send(const std::string& bytes) override { return peer_->Send(com_, bytes); }
    std::string Receive(std::size_t size, int quietMilliseconds) override {
        return peer_->Receive(com_, size, quietMilliseconds);
    }
    void HangUp() override { peer_->HangUp(com_); }
    void Reopen() override {
        if (peer_->Link(com_, portDir_).empty())
            throw std::runtime_error("the line peer did not link COM" + std::to_string(com_));
    }
    std::optional<FarLineSettings> Settings() override { return peer_->Settings(com_); }
    bool WatchPurges() override { return peer_->PacketMode(com_, true); }

private:
    peer::LinePeer* peer_;
    int com_;
    std::string portDir_;
};

}  // namespace

std::unique_ptr<Line> MakePeerLine(int com, const std::string& portDir) {
    return std::make_unique<PeerLine>(com, portDir);
}

}  // namespace sio::contract
