#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Percent-encoding of paths, shared by file URLs on the drag pasteboard and
// the Path lines of the Trash's .trashinfo records: every byte outside the
// URI unreserved set (letters, digits, "-", "_", ".", "~") and "/" is %XX.
std::string percentEncodePath(std::string_view bytes);
// The same with another set of punctuation left as is (letters and digits
// always are), for peers whose escaping differs, such as GLib's file URIs.
std::string percentEncode(std::string_view bytes, std::string_view keptPunctuation);
// Decodes every valid %XX; a "%" not followed by two hex digits stays as is.
std::string percentDecode(std::string_view text);

// The file URL of an absolute path ("file:///home/me/a%20b.jpg").
std::string fileURLForPath(std::string_view path);
// The local path of a file URL ("file:///x", "file://localhost/x"), escapes
// decoded; none for other URLs, other hosts or a path with a NUL byte.
std::optional<std::string> pathForFileURL(std::string_view url);

}  // namespace qm
