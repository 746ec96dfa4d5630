// bsbchart: shows what a BSB chart covers and writes windows of it as BMP
// files, through the library's public interface only.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "output_file.h"
#include "serve.h"
#include "text.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

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

// Whatever went to standard output must have reached it: a full disk is a
// failure, not success. (A failed window to standard output has said so.)
int FinishStandardOutput(int status) {
    const int error = command::StandardOutputError();
    if (error && status == command::kSuccess) {
        std::fprintf(stderr, "bsbchart: cannot write standard output: %s\n", std::strerror(error));
        return command::kFailure;
    }
    return status;
}

int Run(const command::Invocation& invocation) {
    switch (invocation.action) {
        case command::Action::Help:
            std::fputs(invocation.helpTopic.empty() ? command::kHelpText : command::CommandHelp(invocation.helpTopic),
                       stdout);
            return command::kSuccess;
        case command::Action::Version:
            std::printf("bsbchart %s\n", BSBCHART_VERSION);
            return command::kSuccess;
        case command::Action::Info:
            return command::RunInfo(invocation);
        case command::Action::Window:
            return command::RunWindow(invocation);
    }
    return command::kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "serve") == 0) return command::RunServe(Arguments(argc, argv));
    if (argc == 3 && std::strcmp(argv[1], "help") == 0 && std::strcmp(argv[2], "serve") == 0) return command::RunServe({"serve", "--help"});
    command::TreatFileSizeLimitAsWriteError();
    command::UsageError error;
    const std::optional<command::Invocation> invocation = command::ParseArguments(Arguments(argc, argv), error);
    if (!invocation) {
        std::fprintf(stderr, "bsbchart: %s\n%s\n", error.message.c_str(), error.hint.c_str());
        return command::kUsageError;
    }
    command::InstallMessageSink();
    return FinishStandardOutput(Run(*invocation));
}
