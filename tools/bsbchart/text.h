// Text conversions the command needs: UTF-8 arguments to the library's
// UTF-16 paths and back, numbers that read back to the same double, JSON.
#ifndef BSBCHART_COMMAND_TEXT_H
#define BSBCHART_COMMAND_TEXT_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace command {

// NUL-terminated UTF-16; nullopt if the text is not valid UTF-8.
std::optional<std::vector<unsigned short>> Utf16FromUtf8(const std::string& text);

// From NUL-terminated UTF-16; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const unsigned short* text);

// The shortest decimal text that reads back as the same double.
std::string ShortestDouble(double value);

// A JSON string; a byte that is not part of valid UTF-8 becomes U+FFFD.
std::string JsonString(const std::string& text);

std::filesystem::path PathFromUtf8(const std::string& utf8);

}  // namespace command

#endif
