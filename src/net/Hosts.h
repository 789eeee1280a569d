#pragma once
// The three hosts the player talks to. Each is a build option (CMake cache variables
// ORVANE_SERVER_HOST, ORVANE_HOME_HOST, ORVANE_SIBLING_HOST, reserved ".example" names by default)
// and can be replaced at run time by a non-empty environment variable of the same name, which is
// how tests point the player at a local server ("127.0.0.1:port" is accepted: the value is used as
// the host part of a URL as it is).
//
// Read the environment on every call; callable on any thread as long as nobody changes the
// environment meanwhile. Never throw.

#include <string>

namespace orvane::net {

std::string ServerHost();   // the product's web server (remote configuration, lists, songs)
std::string HomeHost();     // the product's home page
std::string SiblingHost();  // the sibling music-sharing service

}  // namespace orvane::net
