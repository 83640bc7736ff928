#pragma once
// The address of the version list: a constant of the build.

#include <string_view>

#include "update_host.h"

namespace tarvo {

// "http://" + the update server's host (TARVO_UPDATE_HOST at build time) + "/zip.html".
inline constexpr std::u16string_view kVersionListUrl =
    u"http://" TARVO_UPDATE_HOST_TEXT u"/zip.html";

}  // namespace tarvo
