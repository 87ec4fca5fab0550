#pragma once

#include <string>

// The URL a redirect leads to: location (absolute or relative) resolved
// against the URL of the hop that answered. False when it cannot be
// resolved or leads to a scheme other than http or https. Pure; any thread.
bool ResolveRedirect(const std::string& from, const std::string& location, std::string& next);
