// Every fixed message the library shows, taken from its own table
// (bsb::MessageText), so that a text is written once; "Cannot open file:
// <path>." is the one formatted message besides these. The tests that provoke
// a message spell out the text the user sees.
#ifndef BSBCHART_LIBRARY_MESSAGES_H
#define BSBCHART_LIBRARY_MESSAGES_H

#include <array>
#include <string>

#include "report/reporter.h"

namespace testsupport {

inline const std::array<const char*, bsb::kMessageCount> kLibraryMessages = [] {
    std::array<const char*, bsb::kMessageCount> texts{};
    for (int id = 0; id < bsb::kMessageCount; ++id) texts[id] = bsb::MessageText(static_cast<bsb::Message>(id));
    return texts;
}();

// Whether `text` is one of the fixed messages, whole.
inline bool IsLibraryMessage(const std::string& text) {
    for (const char* known : kLibraryMessages)
        if (text == known) return true;
    return false;
}

}  // namespace testsupport

#endif
