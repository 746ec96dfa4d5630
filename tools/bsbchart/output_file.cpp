#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "text.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace command {

namespace {

// "dir/.NAME.part-" and the directory's spelling for "NAME" alone.
std::string TemporaryPrefix(const std::string& path) {
#if defined(_WIN32)
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return directory + "." + name + ".part-";
}

std::string WriteToStandardOutput(const std::vector<OutputPiece>& pieces) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    for (const OutputPiece& piece : pieces)
        if (std::fwrite(piece.bytes, 1, piece.size, stdout) != piece.size) return std::strerror(errno);
    FlushStandardOutput();
    const int error = StandardOutputError();
    return error ? std::strerror(error) : "";
}

#if defined(_WIN32)

std::string WriteAndRename(const std::string& path, const std::vector<OutputPiece>& pieces) {
    const std::string prefix = TemporaryPrefix(path);
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random()) & 0xFFFFFFu);
        temporary = prefix + suffix;
        if (_wsopen_s(&fd, PathFromUtf8(temporary).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                      _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0) {
            fd = -1;
            if (errno != EEXIST) return std::strerror(errno);
        }
    }
    if (fd < 0) return std::strerror(EEXIST);
    int error = 0;
    for (const OutputPiece& piece : pieces) {
        const char* bytes = static_cast<const char*>(piece.bytes);
        for (size_t done = 0; done < piece.size && !error;) {
            const unsigned chunk = static_cast<unsigned>(std::min<size_t>(piece.size - done, 1u << 30));
            const int wrote = _write(fd, bytes + done, chunk);
            if (wrote < 0) error = errno;
            else done += static_cast<size_t>(wrote);
        }
    }
    if (_close(fd) != 0 && !error) error = errno;
    std::error_code ignored;
    if (error) {
        std::filesystem::remove(PathFromUtf8(temporary), ignored);
        return std::strerror(error);
    }
    std::error_code renamed;
    std::filesystem::rename(PathFromUtf8(temporary), PathFromUtf8(path), renamed);
    if (renamed) {
        std::filesystem::remove(PathFromUtf8(temporary), ignored);
        return renamed.message();
    }
    return "";
}

#else

// What the signal handler needs, set up before it can run: the temporary
// file's name and the line it prints.
const char* volatile g_temporary = nullptr;
const char* volatile g_interruptLine = nullptr;
volatile size_t g_interruptLength = 0;

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryAndExit(int) {
    const char* temporary = g_temporary;
    if (temporary) unlink(temporary);
    const char* line = g_interruptLine;
    if (line) {
        ssize_t ignored = write(STDERR_FILENO, line, g_interruptLength);
        (void)ignored;
    }
    _exit(1);
}

sigset_t CleanupSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCleanupSignals) sigaddset(&set, signal);
    return set;
}

// Holds the cleanup handlers for as long as the temporary file exists.
struct CleanupGuard {
    struct sigaction previous[3];
    sigset_t unblocked;

    CleanupGuard(const char* line, size_t length) {
        g_interruptLine = line;
        g_interruptLength = length;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveTemporaryAndExit;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < 3; ++i) sigaction(kCleanupSignals[i], &action, &previous[i]);
        Block();
    }
    // Signals wait while the temporary file and the name the handler
    // removes change together.
    void Block() {
        sigset_t set = CleanupSignalSet();
        sigprocmask(SIG_BLOCK, &set, &unblocked);
    }
    void Unblock() { sigprocmask(SIG_SETMASK, &unblocked, nullptr); }
    ~CleanupGuard() {
        Block();
        g_temporary = nullptr;
        for (size_t i = 0; i < 3; ++i) sigaction(kCleanupSignals[i], &previous[i], nullptr);
        Unblock();
    }
};

mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string WriteAndRename(const std::string& path, const std::vector<OutputPiece>& pieces) {
    const std::string interruptLine = "bsbchart: cannot write " + path + ": interrupted\n";
    std::vector<char> temporary;
    const std::string prefix = TemporaryPrefix(path) + "XXXXXX";
    temporary.assign(prefix.begin(), prefix.end());
    temporary.push_back('\0');

    CleanupGuard guard(interruptLine.data(), interruptLine.size());
    // mkstemp creates the name exclusively (O_CREAT | O_EXCL), never
    // through a symbolic link, readable only by the user until chmod.
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        const int error = errno;
        guard.Unblock();
        return std::strerror(error);
    }
    g_temporary = temporary.data();
    guard.Unblock();

    int error = 0;
    if (fchmod(fd, CreationMode()) != 0) error = errno;
    for (const OutputPiece& piece : pieces) {
        const char* bytes = static_cast<const char*>(piece.bytes);
        for (size_t done = 0; done < piece.size && !error;) {
            const ssize_t wrote = write(fd, bytes + done, piece.size - done);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote < 0) error = errno;
            else done += static_cast<size_t>(wrote);
        }
    }
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temporary.data(), path.c_str()) != 0) error = errno;
    guard.Block();
    if (error) unlink(temporary.data());
    g_temporary = nullptr;
    guard.Unblock();
    return error ? std::strerror(error) : "";
}

#endif

}  // namespace

std::string WriteOutput(const std::string& path, const std::vector<OutputPiece>& pieces) {
    if (path == "-") return WriteToStandardOutput(pieces);
    return WriteAndRename(path, pieces);
}

bool IsChartItself(const std::string& chart, const std::string& output) {
#if defined(_WIN32)
    if (output == "-") return false;
    std::error_code error;
    return std::filesystem::equivalent(PathFromUtf8(chart), PathFromUtf8(output), error) && !error;
#else
    struct stat chartStatus, outputStatus;
    if (stat(chart.c_str(), &chartStatus) != 0) return false;
    const int found = output == "-" ? fstat(STDOUT_FILENO, &outputStatus) : stat(output.c_str(), &outputStatus);
    return found == 0 && chartStatus.st_dev == outputStatus.st_dev && chartStatus.st_ino == outputStatus.st_ino;
#endif
}

namespace {
int g_standardOutputError = 0;
}  // namespace

void FlushStandardOutput() {
    if (std::fflush(stdout) != 0 && !g_standardOutputError) g_standardOutputError = errno ? errno : EIO;
}

int StandardOutputError() {
    FlushStandardOutput();
    if (std::ferror(stdout) && !g_standardOutputError) g_standardOutputError = EIO;
    return g_standardOutputError;
}

void TreatFileSizeLimitAsWriteError() {
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace command
