#include "fuzz_messages.h"

#include <cstdio>
#include <cstdlib>

#include "bsbchart_host.h"
#include "library_messages.h"

namespace fuzzentry {

void Violation(const std::string& what) {
    fprintf(stderr, "fuzz entry: %s\n", what.c_str());
    abort();
}


MessageCounter::MessageCounter() { SetMessageSink(&MessageCounter::Receive, this); }

MessageCounter::~MessageCounter() { SetMessageSink(nullptr, nullptr); }

void MessageCounter::Receive(const unsigned short* text, void* context) {
    std::string message;
    for (; *text; ++text) message += *text < 0x80 ? (char)*text : '?';
    static_cast<MessageCounter*>(context)->messages_.push_back(message);
}

void MessageCounter::ExpectOutcome(bool succeeded, bool silentAllowed, const char* call) {
    std::vector<std::string> seen;
    seen.swap(messages_);
    std::string name(call);
    if (succeeded && !seen.empty()) Violation(name + " succeeded but showed \"" + seen[0] + "\"");
    if (succeeded) return;
    if (seen.size() > 1) Violation(name + " showed " + std::to_string(seen.size()) + " messages");
    if (seen.empty() && !silentAllowed) Violation(name + " failed without a message");
    if (!seen.empty() && !testsupport::IsLibraryMessage(seen[0]))
        Violation(name + " showed a message of no known kind: \"" + seen[0] + "\"");
}

}  // namespace fuzzentry
