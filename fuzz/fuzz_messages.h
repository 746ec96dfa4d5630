// Counting the library's messages in the fuzz entries.
#ifndef BSBCHART_FUZZ_MESSAGES_H
#define BSBCHART_FUZZ_MESSAGES_H

#include <string>
#include <vector>

namespace fuzzentry {

[[noreturn]] void Violation(const std::string& what);

// Receives the library's messages while alive.
class MessageCounter {
public:
    MessageCounter();
    ~MessageCounter();
    MessageCounter(const MessageCounter&) = delete;
    MessageCounter& operator=(const MessageCounter&) = delete;

    // Success shows nothing; a failure shows exactly one of the library's
    // messages, or none when `silentAllowed`. Clears the count.
    void ExpectOutcome(bool succeeded, bool silentAllowed, const char* call);

private:
    static void Receive(const unsigned short* text, void* context);
    std::vector<std::string> messages_;
};

}  // namespace fuzzentry

#endif
