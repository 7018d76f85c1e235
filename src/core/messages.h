// Modal message boxes as the program's parts need them. The desktop front
// ends show real boxes; the batch front end prints a line on stderr.
#pragma once

#include <string_view>

namespace veltrix {

inline constexpr std::string_view kAppTitle = "Veltrix";

enum class MessageStyle { Plain = 0, Critical = 16 };

class Messages {
public:
    virtual ~Messages() = default;
    // Returns when the user has closed the box. An empty title means the
    // application's title.
    virtual void messageBox(std::string_view text, MessageStyle style, std::string_view title = {}) = 0;
};

}  // namespace veltrix
