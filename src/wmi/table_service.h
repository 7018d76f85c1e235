// A Service over a ClassSource: parses the moniker, runs WQL through the
// shared parser and evaluator, and answers the registry moniker from the
// source's registry tree.
#pragma once

#include <memory>
#include <string>

#include "wmi/class_source.h"
#include "wmi/service.h"

namespace veltrix::wmi {

class QueryCache;  // parsed queries by text, shared with the connections

class TableService final : public Service {
public:
    explicit TableService(ClassSource& source, std::string localHostName = {});

    Result<std::unique_ptr<Connection>> connect(std::string_view moniker) override;
    Result<std::unique_ptr<Registry>> connectRegistry(std::string_view moniker) override;
    void expectClasses(std::string_view moniker, const std::vector<std::string>& classNames) override;

private:
    ClassSource& source_;
    std::string localHostName_;
    std::shared_ptr<QueryCache> queries_;
};

}  // namespace veltrix::wmi
