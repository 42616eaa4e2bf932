#include "serial/component/com_port_hooks.h"

#include "serial/errors/errors.h"
#include "serial/notify/notify_window.h"

#include <cstdio>
#include <mutex>

namespace sio {

namespace {

std::mutex hooksLock;  // guards the two hooks below
TExceptionReporter exceptionReporter;
TPortPrompt portPrompt;

}  // namespace

void SetExceptionReporter(TExceptionReporter reporter) {
    {
        std::lock_guard lock(hooksLock);
        exceptionReporter = std::move(reporter);
    }
    // A worker that failed reports through the same hook.
    SetWorkerExceptionReporter([](const std::string& message) { ReportException(Exception(message)); });
}

void ReportException(const std::exception& e) {
    TExceptionReporter reporter;
    {
        std::lock_guard lock(hooksLock);
        reporter = exceptionReporter;
    }
    if (reporter) {
        reporter(e);
        return;
    }
    std::fprintf(stderr, "%s\n", e.what());
}

void SetPortPrompt(TPortPrompt prompt) {
    std::lock_guard lock(hooksLock);
    portPrompt = std::move(prompt);
}

bool PromptForComPort(Word& comNumber) {
    TPortPrompt prompt;
    {
        std::lock_guard lock(hooksLock);
        prompt = portPrompt;
    }
    return prompt ? prompt(comNumber) : false;
}

}  // namespace sio
