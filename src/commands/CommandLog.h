#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/QuickString.h"

namespace qm {

// Texts for the "[fs]" and "[run]" lines (core/Log.h) and the toasts.

// A string between double quotes with quotes, backslashes and control
// characters escaped, so a hostile file name cannot break a log line.
// Bytes that are not UTF-8 show as U+FFFD.
std::string quotedText(std::string_view text);
std::string quotedText(const QuickString& text);

// Collection notation: ["a", "b"] and [("a", "b")].
std::string listDescription(const std::vector<std::string>& items);
std::string listDescription(const std::set<std::string>& items);
std::string pairListDescription(const std::vector<std::pair<std::string, std::string>>& pairs);

// The toast of a command whose items can fail one by one: `done` ("Moved 2
// files") alone when nothing failed, else followed by "; 1 could not be "
// and the participle ("moved").
std::string partialOutcomeText(std::string done, size_t failed, std::string_view participle);

// A path without the home directory and its slash when it is inside home.
std::string displayPath(std::string_view path);

}  // namespace qm
