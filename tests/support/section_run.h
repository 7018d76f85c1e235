// Runs one collector against a scripted data source and keeps what it left:
// the report lines, the message boxes and whether an error stayed pending.
#pragma once

#include <string>
#include <vector>

#include "support/fakes.h"

namespace veltrix::test {

struct SectionRun {
    std::string lines;
    std::vector<std::string> boxes;
    bool pendingLeft = false;
};

inline SectionRun runSection(Collector collector, ScriptedService& service) {
    ScanFixture fx(service);
    collector(fx.scan);
    return {fx.lines(), fx.ui.messages, fx.pending.any()};
}

// One query answered with the given objects.
inline SectionRun runSection(Collector collector, const std::string& wql, std::vector<wmi::ObjectPtr> objects) {
    ScriptedService service;
    service.answers[wql].objects = std::move(objects);
    return runSection(collector, service);
}

inline std::string section(const std::string& title, const std::string& rows) {
    return headLines(title) + rows + kFootLine;
}

}  // namespace veltrix::test
