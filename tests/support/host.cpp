// The parts that call into the library; test executables link it.
#include "bsbchart_host.h"
#include "test_support.h"

namespace testsupport {

MessageLog::MessageLog() { SetMessageSink(&MessageLog::Receive, this); }

MessageLog::~MessageLog() { SetMessageSink(nullptr, nullptr); }

void MessageLog::Receive(const unsigned short* text, void* context) {
    auto* log = static_cast<MessageLog*>(context);
    std::string message = Utf8(text);
    std::lock_guard<std::mutex> lock(log->mutex_);
    log->messages.push_back(std::move(message));
}

std::vector<std::string> MessageLog::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages;
}

bool MessageLog::Contains(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& message : messages)
        if (message.find(part) != std::string::npos) return true;
    return false;
}

void MessageLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages.clear();
}

HostHeap::HostHeap(std::size_t maximumSize) : heap_(CreateChartHeap(maximumSize)) {}

HostHeap::~HostHeap() {
    if (heap_ != nullptr) DestroyChartHeap(heap_);
}

std::size_t HostHeap::blocks() const { return heap_ ? CountChartBlocks(heap_) : 0; }

}  // namespace testsupport
