// UTF-8 texts of the core as Qt strings and back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace veltrix::qt {

inline QString toQString(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string toUtf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace veltrix::qt
