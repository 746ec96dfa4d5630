// bsbchart: shows what a BSB chart covers and writes windows of it as BMP
// files, through the library's public interface only.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "bsbchart_host.h"
#include "commands.h"
#include "text.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

// The library's messages go to stderr as one line each, marked as coming
// from this command, on every platform (Windows would show message boxes).
void PrintLibraryMessage(const unsigned short* text, void*) {
    std::fprintf(stderr, "bsbchart: %s\n", command::Utf8FromUtf16(text).c_str());
    std::fflush(stderr);
}

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        std::vector<unsigned short> text(wide[i], wide[i] + wcslen(wide[i]) + 1);
        args.push_back(command::Utf8FromUtf16(text.data()));
    }
    LocalFree(wide);
#else
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
#endif
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    command::UsageError error;
    const std::optional<command::Invocation> invocation = command::ParseArguments(Arguments(argc, argv), error);
    if (!invocation) {
        std::fprintf(stderr, "bsbchart: %s\n%s\n", error.message.c_str(), error.hint.c_str());
        return command::kUsageError;
    }
    switch (invocation->action) {
        case command::Action::Help:
            std::fputs(command::kHelpText, stdout);
            return command::kSuccess;
        case command::Action::Version:
            std::printf("bsbchart %s\n", BSBCHART_VERSION);
            return command::kSuccess;
        default:
            break;
    }
    const auto chart = command::Utf16FromUtf8(invocation->chart);
    if (!chart) {
        std::fprintf(stderr, "bsbchart: the chart's name \"%s\" is not valid UTF-8\n", invocation->chart.c_str());
        return command::kUsageError;
    }
    SetMessageSink(PrintLibraryMessage, nullptr);
    return invocation->action == command::Action::Info ? command::RunInfo(*invocation, chart->data())
                                                       : command::RunWindow(*invocation, chart->data());
}
