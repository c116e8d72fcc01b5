// The page the development service shows at "/".
#pragma once
#include <string>

// withSwitch false leaves out the vpn_switch element, so a client can be
// tried against a page it cannot drive.
std::string DevPage(bool withSwitch);
