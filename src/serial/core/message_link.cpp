#include "serial/core/message_link.h"

#include <atomic>
#include <cstdio>

namespace sio {

namespace {

// Without a window-message layer there is nobody to deliver to: sends fail
// at once, calls meant for the owner thread run where they are asked.
class DetachedLink final : public MessageLink {
public:
    bool SendMessageTimeout(WindowHandle, unsigned, WParam, LParam, int) override { return false; }
    bool PostMessage(WindowHandle, unsigned, WParam, LParam) override { return false; }
    void PumpOnce() override {}
    void RunOnOwnerThread(const std::function<void()>& call) override { call(); }
    void ReportWorkerException(const std::string& message) override {
        std::fprintf(stderr, "serial worker: %s\n", message.c_str());
    }
};

DetachedLink detachedLink;
std::atomic<MessageLink*> installedLink{nullptr};

}  // namespace

MessageLink& CurrentMessageLink() {
    MessageLink* link = installedLink.load(std::memory_order_acquire);
    return link ? *link : detachedLink;
}

void InstallMessageLink(MessageLink* link) { installedLink.store(link, std::memory_order_release); }

}  // namespace sio
