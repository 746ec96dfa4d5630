// Messages shown the way the library's calls show them, and a sink that keeps
// the UTF-16 units each message reaches the host with.
#ifndef BSBCHART_SHOWN_MESSAGES_H
#define BSBCHART_SHOWN_MESSAGES_H

#include <initializer_list>
#include <string>
#include <vector>

#include "bsbchart_host.h"
#include "report/reporter.h"

namespace testsupport {

using Units = std::vector<unsigned short>;

inline Units UnitsOf(const std::string& ascii) { return Units(ascii.begin(), ascii.end()); }

inline Units Concat(std::initializer_list<Units> parts) {
    Units all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Shows a message the way the library's calls do.
inline void Show(bsb::Message message) {
    bsb::Reporter reporter = bsb::ShowingReporter();
    bsb::Fail(&reporter, message);
}

inline void ShowCannotOpen(const unsigned short* path) {
    bsb::Reporter reporter = bsb::ShowingReporter();
    bsb::FailCannotOpen(&reporter, path, bsb::kStatusNotFound, 0);
}

struct UnitSink {
    std::vector<Units> messages;
    static void Receive(const unsigned short* text, void* context) {
        Units units;
        for (; *text; ++text) units.push_back(*text);
        static_cast<UnitSink*>(context)->messages.push_back(units);
    }
};

// Installs a sink that keeps the raw UTF-16 units, for its lifetime.
struct ScopedUnitSink {
    ScopedUnitSink() { SetMessageSink(&UnitSink::Receive, &sink); }
    ~ScopedUnitSink() { SetMessageSink(nullptr, nullptr); }
    ScopedUnitSink(const ScopedUnitSink&) = delete;
    ScopedUnitSink& operator=(const ScopedUnitSink&) = delete;
    UnitSink sink;
};

}  // namespace testsupport

#endif
