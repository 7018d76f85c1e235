// The frame every console page shares: its title, the way between pages,
// who is signed in and the sign-out form with its form token. Every text
// put into a page goes through escape().
#pragma once

#include <string>
#include <string_view>

#include "fleet/console_users.h"

namespace veltrix::server {

// Every character with a meaning in markup, quotes included, as an entity;
// bytes that are not UTF-8 as U+FFFD.
std::string escape(std::string_view text);
// Bytes that are not UTF-8 as U+FFFD: for text a client sent that goes to
// the store, which on PostgreSQL refuses such bytes.
std::string validUtf8(std::string_view text);

std::string consolePage(std::string_view title, const fleet::Viewer* viewer, std::string_view content);

// The style sheet, served without a session so that /login is styled.
const std::string& consoleStyleSheet();

}  // namespace veltrix::server
