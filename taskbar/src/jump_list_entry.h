// One entry of the jump list as the host added it.
#pragma once

#include <optional>
#include <string>

namespace taskbar {

struct JumpListEntry {
    // Text shown for the entry; none marks a separator, whose other fields are unused.
    std::optional<std::wstring> label;
    // Command-line arguments of the task runner when the entry is clicked.
    std::wstring arguments;
    // Empty: the entry is a task. Otherwise it goes into the custom category.
    std::wstring category;
    // File name of the library or program holding the entry's icon, and its index.
    std::wstring iconLibrary;
    int iconIndex = 0;

    bool isSeparator() const noexcept { return !label.has_value(); }
    bool inCategory() const noexcept { return label.has_value() && !category.empty(); }
};

}  // namespace taskbar
