#pragma once

#include <string_view>

// Whether `text` names the Mac to the user: the word "Mac" on its own, or the
// macOS install folder "Applications". What no text of a Linux build may do.
bool namesTheMac(std::string_view text);
