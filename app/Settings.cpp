#include "app/Settings.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "store/Locations.h"
#include "store/StoreData.h"

#include <algorithm>
#include <cstdlib>

namespace bw {

namespace {

constexpr size_t kLargestFile = 64 * 1024;
constexpr long kLargestCoordinate = 100000;
constexpr long kLargestColumn = 4000;
constexpr long kLeastDpi = 48;      // 50 %, below what Windows offers
constexpr long kLargestDpi = 960;   // 1000 %, above it
constexpr long kLeastVisible = 100; // pixels of the title that stay on a monitor, across and down

// The parts of `text` between `separator`s, as a stream read by lines would give them: nothing after a last
// separator. (No stream here: the streams of the standard library would more than double the program's size.)
std::vector<std::string> PartsOf(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The whole text as integers separated by commas; nothing when any part is not one, or one is out of range.
std::optional<std::vector<long>> NumbersOf(const std::string& text, size_t count, long least, long most) {
    std::vector<long> numbers;
    for (const std::string& part : PartsOf(text, ',')) {
        if (part.empty() || part.size() > 7 || part.find_first_not_of("-0123456789") != std::string::npos ||
            part.find('-', 1) != std::string::npos) {
            return std::nullopt;
        }
        const long number = std::strtol(part.c_str(), nullptr, 10);
        if (number < least || number > most) {
            return std::nullopt;
        }
        numbers.push_back(number);
    }
    if (numbers.size() != count) {
        return std::nullopt;
    }
    return numbers;
}

std::string Joined(const std::vector<long>& numbers) {
    std::string text;
    for (long number : numbers) {
        text += (text.empty() ? "" : ",") + std::to_string(number);
    }
    return text;
}

} // namespace

std::wstring SettingsPath() {
    return StoreDataFile(kSettingsFile);
}

WindowSettings ParseSettings(const std::string& text) {
    WindowSettings settings;
    for (std::string line : PartsOf(text, '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "window") {
            const auto numbers = NumbersOf(value, 4, -kLargestCoordinate, kLargestCoordinate);
            if (numbers && (*numbers)[2] > (*numbers)[0] && (*numbers)[3] > (*numbers)[1]) {
                settings.bounds = RECT{(*numbers)[0], (*numbers)[1], (*numbers)[2], (*numbers)[3]};
            }
        } else if (key == "dpi") {
            if (const auto numbers = NumbersOf(value, 1, kLeastDpi, kLargestDpi)) {
                settings.dpi = static_cast<UINT>((*numbers)[0]);
            }
        } else if (key == "maximized") {
            settings.maximized = value == "1";
        } else if (key == "columns") {
            // A file written before the Signer column came holds one width fewer; that column then takes its
            // default width.
            auto numbers = NumbersOf(value, kColumnCount, 0, kLargestColumn);
            if (!numbers) {
                numbers = NumbersOf(value, kColumnCount - 1, 0, kLargestColumn);
            }
            if (numbers) {
                settings.columnWidths.assign(numbers->begin(), numbers->end());
            }
        } else if (key == "hideWindows") {
            settings.hideWindows = value == "1";
        } else if (key == "sort") {
            const size_t comma = value.find(',');
            const auto column = NumbersOf(value.substr(0, comma), 1, 0, kColumnCount - 1);
            const std::string way = comma == std::string::npos ? std::string() : value.substr(comma + 1);
            if (column && (way == "up" || way == "down")) {
                settings.sort = SortOrder{static_cast<int>((*column)[0]), way == "down"};
            }
        }
    }
    return settings;
}

std::string FormatSettings(const WindowSettings& settings) {
    std::string text = "# Bootwarden's window as it was last closed. Delete this file to start from the defaults.\r\n";
    if (settings.bounds) {
        const RECT& r = *settings.bounds;
        text += "window=" + Joined({r.left, r.top, r.right, r.bottom}) + "\r\n";
        if (settings.dpi) {
            text += "dpi=" + std::to_string(*settings.dpi) + "\r\n";
        }
    }
    text += std::string("maximized=") + (settings.maximized ? "1" : "0") + "\r\n";
    if (!settings.columnWidths.empty()) {
        text +=
            "columns=" + Joined(std::vector<long>(settings.columnWidths.begin(), settings.columnWidths.end())) + "\r\n";
    }
    text += std::string("hideWindows=") + (settings.hideWindows ? "1" : "0") + "\r\n";
    if (settings.sort) {
        text +=
            "sort=" + std::to_string(settings.sort->column) + (settings.sort->descending ? ",down" : ",up") + "\r\n";
    }
    return text;
}

WindowSettings LoadSettings(const std::wstring& path) {
    const std::optional<std::string> text = ReadWholeFile(path, kLargestFile);
    return text ? ParseSettings(*text) : WindowSettings{};
}

bool SaveSettings(const std::wstring& path, const WindowSettings& settings) {
    try {
        WriteFileReplacing(path, FormatSettings(settings));
        return true;
    } catch (const EBootwarden&) {
        return false; // a folder we may not write: the window simply opens with its defaults next time
    }
}

RECT ScaleBounds(const RECT& bounds, UINT savedDpi, UINT dpi) {
    if (savedDpi == 0 || dpi == 0 || savedDpi == dpi) {
        return bounds;
    }
    const int width = ::MulDiv(bounds.right - bounds.left, static_cast<int>(dpi), static_cast<int>(savedDpi));
    const int height = ::MulDiv(bounds.bottom - bounds.top, static_cast<int>(dpi), static_cast<int>(savedDpi));
    return RECT{bounds.left, bounds.top, bounds.left + width, bounds.top + height};
}

RECT KeepOnWorkArea(const RECT& bounds, const RECT& workArea) {
    RECT visible{};
    const RECT title{bounds.left, bounds.top, bounds.right, std::min(bounds.bottom, bounds.top + kLeastVisible)};
    const long areaWidth = workArea.right - workArea.left;
    const long areaHeight = workArea.bottom - workArea.top;
    if (::IntersectRect(&visible, &title, &workArea) &&
        visible.right - visible.left >= std::min(kLeastVisible, areaWidth) &&
        visible.bottom - visible.top >= std::min(kLeastVisible / 4, areaHeight)) {
        return bounds;
    }
    const long width = std::min(bounds.right - bounds.left, areaWidth);
    const long height = std::min(bounds.bottom - bounds.top, areaHeight);
    const long left = std::clamp(bounds.left, workArea.left, workArea.right - width);
    const long top = std::clamp(bounds.top, workArea.top, workArea.bottom - height);
    return RECT{left, top, left + width, top + height};
}

} // namespace bw
