// Without a message box the default reporter writes one UTF-8 line to stderr.
#include <unistd.h>

#include "platform/platform.h"
#include "text/utf.h"

namespace bsb {

const uint32_t kLongestMessage = 500;

void ShowSystemMessage(const unsigned short* text) {
    char line[kLongestMessage * 3 + 2];
    if (!ConvertUtf16ToUtf8(text, line, sizeof(line) - 1, false)) return;
    uint32_t length = 0;
    while (line[length]) ++length;
    line[length++] = '\n';
    ssize_t ignored = write(2, line, length);
    (void)ignored;
}

bool FormatCannotOpen(const unsigned short*, unsigned short*) {
    return false;
}

}  // namespace bsb
