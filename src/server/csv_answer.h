// A table as a CSV download, for the console's "as CSV" links.
#pragma once

#include <string>
#include <string_view>

#include "server/transport.h"

namespace veltrix::server {

inline Response csvAnswer(std::string body, std::string_view fileName) {
    Response response;
    response.contentType = "text/csv; charset=utf-8";
    response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + std::string(fileName) + "\"");
    response.body = std::move(body);
    return response;
}

}  // namespace veltrix::server
