#pragma once
// Checking what an update server actually serves, as players' launchers will meet it: the
// version list and every archive it lists, over HTTP. A folder can hold every archive and the
// server still refuse them (403 for files its workers may not read), compress them, or serve
// ranges wrongly.

#include <string>
#include <vector>

namespace tarvo::publish {

struct ServerCheck {
  std::string pageUrl;                // the version list's address
  std::vector<std::string> problems;  // what keeps players from their updates
  std::vector<std::string> warnings;  // what costs them or the server, with how to mend it
};

// The version list of the server at `url`: "http://HOST/" (or a folder of it) serves "zip.html";
// a URL ending in ".html" names the page itself.
std::string VersionListUrl(const std::string& url);

// Fetches the version list at VersionListUrl(url) and checks it as the site check does
// (CheckVersionPage), then each archive it lists: status 200, a Content-Length, no
// compression (also when asked for it), Accept-Ranges and a strong validator, a range with
// If-Range answered with exactly that range, and a stale If-Range answered with the whole body;
// and the caching headers the operator guide gives (no-cache for the list, a long lifetime for
// archives). Only archives' headers and a byte of each are fetched, never their bodies.
ServerCheck CheckServer(const std::string& url);

}  // namespace tarvo::publish
