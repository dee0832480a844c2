#include "app/PlaceRequest.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/FileURL.h"
#include "core/PathNames.h"
#include "core/QuickString.h"
#include "library/FolderContents.h"
#include "library/NodePath.h"
#include "library/TreeNames.h"
#include "platform/ListingEscape.h"

namespace qm {

namespace {

// "scheme://" as RFC 3986 spells a scheme; "a:b.jpg" stays a file name.
bool isURI(std::string_view argument) {
    const size_t colon = argument.find("://");
    if (colon == std::string_view::npos || colon == 0) return false;
    if (!std::isalpha(static_cast<unsigned char>(argument[0]))) return false;
    return std::all_of(argument.begin(), argument.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

std::string absoluteNormal(std::string_view path, std::string_view workingDirectory) {
    std::filesystem::path p(path);
    if (p.is_relative()) p = std::filesystem::path(workingDirectory) / p;
    std::string out = p.lexically_normal().string();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::optional<std::string> realPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

// The path as the Folders section names it: lexically below home, or, when
// only the links on the way lead there (a home reached through a link, a
// working directory as the kernel spells it), the same place below home.
std::optional<std::string> insideHome(const std::string& path, const std::string& home) {
    if (isAtOrBelow(path, home)) return path;
    auto real = realPath(path);
    auto realHome = realPath(home);
    if (!real || !realHome || !isAtOrBelow(*real, *realHome)) return std::nullopt;
    return home + real->substr(realHome->size());
}

// Every name below home is one the Folders section lists.
bool isListed(const std::string& path, const std::string& home, bool isDirectory) {
    std::string_view rest = std::string_view(path).substr(home.size());
    bool inHome = true;
    while (!rest.empty()) {
        rest.remove_prefix(1);  // the "/"
        const size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        const bool last = slash == std::string_view::npos;
        if (!isListedInFolders(name, last ? isDirectory : true, inHome)) return false;
        inHome = false;
        rest = last ? std::string_view() : rest.substr(slash);
    }
    return true;
}

std::string refusal(std::string_view argument, std::string_view reason) {
    return "quillomere: " + escapeListingField(argument) + ": " + std::string(reason);
}

}  // namespace

PlaceRequest PlaceRequest::resolve(const std::vector<std::string>& arguments, std::string_view workingDirectory) {
    PlaceRequest out;
    const std::string home(homeDirectory().utf8());
    for (const std::string& argument : arguments) {
        std::string path;
        if (isURI(argument)) {
            auto local = pathForFileURL(argument);
            if (!local || local->empty() || local->front() != '/') {
                out.refusals.push_back(refusal(argument, "not a local file"));
                continue;
            }
            path = absoluteNormal(*local, "/");
        } else {
            if (argument.empty()) continue;
            path = absoluteNormal(argument, workingDirectory);
        }
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            out.refusals.push_back(refusal(argument, "no such file or folder"));
            continue;
        }
        const bool isDirectory = S_ISDIR(st.st_mode);
        auto shown = insideHome(path, home);
        if (!shown) {
            out.refusals.push_back(refusal(argument, "outside the home folder " + escapeListingField(home) +
                                                         ", which is all Quillomere shows"));
            continue;
        }
        if (!isListed(*shown, home, isDirectory)) {
            out.refusals.push_back(refusal(argument, "hidden, so not under Folders"));
            continue;
        }
        if (!out.place) {
            out.place = Place{isDirectory ? *shown : parentOf(*shown), {}};
        } else if (isDirectory && *shown == out.place->folder) {
            continue;  // named twice
        } else if (isDirectory || parentOf(*shown) != out.place->folder) {
            out.refusals.push_back(
                refusal(argument, "not in " + escapeListingField(out.place->folder) + ", the folder opened"));
            continue;
        }
        if (!isDirectory && std::find(out.place->files.begin(), out.place->files.end(), *shown) == out.place->files.end())
            out.place->files.push_back(*shown);
        out.accepted.push_back(*shown);
    }
    return out;
}

AppWindowState stateForPlace(AppWindowState base, const Place& place) {
    const std::optional<QuickString> fullName = nodeNameForFolder(place.folder);
    if (!fullName) return base;
    base.currentNode = nodePathForFullName(*fullName);
    base.currentSelection.clear();
    for (const std::string& file : place.files)
        base.currentSelection.push_back(QuickString::bytes(file));
    // The folder's row shows: every folder above it is expanded.
    NodePath above;
    for (size_t i = 0; i + 1 < base.currentNode.size(); ++i) {
        above.push_back(base.currentNode[i]);
        QuickString name = fullNameForNodePath(above);
        if (std::find(base.isExpanded.begin(), base.isExpanded.end(), name) == base.isExpanded.end())
            base.isExpanded.push_back(std::move(name));
    }
    base.scrollState.tileGrid.reset();
    // Keys act on the files asked for, and their selection shows as the active one.
    base.isTileGridViewFocused = !place.files.empty();
    return base;
}

}  // namespace qm
