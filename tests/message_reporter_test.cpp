// The message reporter: the host's sink receives each message as UTF-16;
// without a sink the messages go to standard error as UTF-8 lines.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bsbchart_host.h"
#include "report/reporter.h"
#include "shown_messages.h"
#include "test_support.h"

namespace {

using testsupport::Concat;
using testsupport::ScopedUnitSink;
using testsupport::Show;
using testsupport::ShowCannotOpen;
using testsupport::TempDir;
using testsupport::Units;
using testsupport::UnitSink;
using testsupport::UnitsOf;
using testsupport::Utf16Path;

TEST(MessageReporter, SinkReceivesTheUtf16Text) {
    ScopedUnitSink scoped;
    Show(bsb::kErrorReadingHeader);
    Units path = Utf16Path("/charts/\xC3\xA9\xF0\x9F\x98\x80.kap");  // é, U+1F600
    path.pop_back();
    path.push_back(0xD800);  // a lone surrogate goes to the sink as it is
    path.push_back(0);
    ShowCannotOpen(path.data());
    ASSERT_EQ(scoped.sink.messages.size(), 2u);
    EXPECT_EQ(scoped.sink.messages[0], UnitsOf("Error reading header."));
    EXPECT_EQ(scoped.sink.messages[1],
              Concat({UnitsOf("Cannot open file: /charts/"), Units{0xE9, 0xD83D, 0xDE00},
                      UnitsOf(".kap"), Units{0xD800}, UnitsOf(".")}));
}

#if !defined(_WIN32)
// What the process writes to its standard error while `action` runs.
template <typename Action>
std::string CaptureStderr(Action action) {
    TempDir dir;
    std::string path = dir.PathOf("stderr");
    int file = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int saved = dup(2);
    dup2(file, 2);
    close(file);
    action();
    dup2(saved, 2);
    close(saved);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(MessageReporter, DefaultWritesOneUtf8LineToStandardError) {
    SetMessageSink(nullptr, nullptr);
    std::string written = CaptureStderr([] { Show(bsb::kErrorReadingHeader); });
    EXPECT_EQ(written, "Error reading header.\n");

    std::string name = "/charts/\xC3\xA9\xF0\x9F\x98\x80.kap";
    written = CaptureStderr([&] { ShowCannotOpen(Utf16Path(name).data()); });
    EXPECT_EQ(written, "Cannot open file: " + name + ".\n");

    // An unpaired surrogate is shown as U+FFFD.
    Units lone = Utf16Path("/a");
    lone.insert(lone.end() - 1, 0xDC00);
    written = CaptureStderr([&] { ShowCannotOpen(lone.data()); });
    EXPECT_EQ(written, "Cannot open file: /a\xEF\xBF\xBD.\n");

    // The longest message fits its line.
    Units wide(1000, 0x65E5);        // 日, three UTF-8 bytes each
    wide.push_back(0);
    written = CaptureStderr([&] { ShowCannotOpen(wide.data()); });
    std::string expected = "Cannot open file: ";
    for (int i = 0; i < 480; ++i) expected += "\xE6\x97\xA5";
    EXPECT_EQ(written, expected + ".\n");
}

TEST(MessageReporter, NullSinkRestoresTheDefault) {
    UnitSink sink;
    SetMessageSink(&UnitSink::Receive, &sink);
    SetMessageSink(nullptr, nullptr);
    std::string written = CaptureStderr([] { Show(bsb::kErrorReadingCph); });
    EXPECT_EQ(written, "Error reading CPH record.\n");
    EXPECT_TRUE(sink.messages.empty());

    testsupport::MessageLog log;
    written = CaptureStderr([] { Show(bsb::kErrorReadingCph); });
    EXPECT_EQ(written, "");
    EXPECT_EQ(log.messages, std::vector<std::string>{"Error reading CPH record."});
}

#endif

}  // namespace
