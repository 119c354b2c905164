// Formats whose directives take strings: "%@" takes the next value, "%%" is a percent sign.
// Used for localized messages and for script templates.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The number of "%@" directives in `format`; a "%%" is no directive, so "%%@" counts none.
std::size_t CountStringDirectives(std::string_view format);

// `format` with each "%@" replaced by the next value (passed through `render` when given) and
// each "%%" by "%"; any other "%" stays as it is. Values beyond the format's directives are
// left out. nullopt when the format has more directives than there are values, since a
// directive must never be filled with something made up.
std::optional<std::string> StringWithFormat(
    std::string_view format, const std::vector<std::string>& values,
    const std::function<std::string(std::string_view)>& render = nullptr);

}  // namespace platform
