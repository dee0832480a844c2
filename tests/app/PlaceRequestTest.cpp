// What `quillomere FOLDER` and `quillomere FILE...` open, on real folders of
// a temporary home: paths, relative names and file URIs; what is refused,
// each with one line naming it; and the window state a place becomes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/PlaceRequest.h"
#include "core/FileURL.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::string home() {
    return testHome().string();
}

void touch(const fs::path& p) {
    writeFile(p, "x");
}

bool oneLineNaming(const std::string& line, const std::string& name) {
    return line.starts_with("quillomere: ") && line.find('\n') == std::string::npos &&
           line.find(name) != std::string::npos;
}

TEST(PlaceRequestTest, AFolderOrTheFirstFilesFolderWithTheFilesInItSelected) {
    const std::string h = home();
    touch(h + "/Photos/a.jpg");
    touch(h + "/Photos/b c#1.jpg");
    touch(h + "/Photos/a:b.jpg");
    fs::create_directories(h + "/Photos/Sub");
    touch(h + "/Other/x.jpg");

    PlaceRequest folder = PlaceRequest::resolve({"Photos/"}, h);
    ASSERT_TRUE(folder.place);
    EXPECT_EQ(*folder.place, (Place{h + "/Photos", {}}));
    EXPECT_EQ(folder.accepted, std::vector<std::string>{h + "/Photos"});
    EXPECT_TRUE(folder.refusals.empty());

    // The home folder itself is the Folders section.
    EXPECT_EQ(PlaceRequest::resolve({h}, "/").place, (Place{h, {}}));

    // Files: the first one's folder; names relative to the working
    // directory, with "." and ".."; what lies elsewhere is named and left out.
    PlaceRequest files = PlaceRequest::resolve(
        {"a.jpg", "./../Photos/b c#1.jpg", h + "/Other/x.jpg", "Sub", "a:b.jpg", "a.jpg"}, h + "/Photos");
    ASSERT_TRUE(files.place);
    EXPECT_EQ(files.place->folder, h + "/Photos");
    EXPECT_EQ(files.place->files,
              (std::vector<std::string>{h + "/Photos/a.jpg", h + "/Photos/b c#1.jpg", h + "/Photos/a:b.jpg"}));
    ASSERT_EQ(files.refusals.size(), 2u);
    EXPECT_TRUE(oneLineNaming(files.refusals[0], h + "/Other/x.jpg")) << files.refusals[0];
    EXPECT_TRUE(oneLineNaming(files.refusals[1], "Sub")) << files.refusals[1];

    // Resolving what was accepted gives the same place anywhere: the
    // running program gets these from a start in another folder.
    EXPECT_EQ(PlaceRequest::resolve(files.accepted, "/").place, files.place);

    // File URIs, as a file manager hands them over, escapes decoded.
    PlaceRequest uris = PlaceRequest::resolve(
        {fileURLForPath(h + "/Photos/b c#1.jpg"), "file://localhost" + percentEncodePath(h + "/Photos/a.jpg")}, "/");
    ASSERT_TRUE(uris.place);
    EXPECT_EQ(uris.place->files, (std::vector<std::string>{h + "/Photos/b c#1.jpg", h + "/Photos/a.jpg"}));
    EXPECT_TRUE(uris.refusals.empty());
}

TEST(PlaceRequestTest, OutsideHomeMissingHiddenAndOtherURIsAreRefusedInOneLineEach) {
    const std::string h = home();
    touch(h + "/Photos/.secret.jpg");
    touch(h + "/.config/app/file.txt");
    fs::create_directories(h + "/Library/Caches");
    fs::create_directories(h + "/Photos/Library");
    fs::create_directories(h + "/Old.photoslibrary");
    TempDir outside("qm-outside");
    touch(outside / "new\nline\x1b[31m.jpg");

    struct Case {
        std::string argument;
        std::string named;  // what the line must contain
    };
    const std::string hostile = (outside / "new\nline\x1b[31m.jpg").string();
    for (const Case& c : std::vector<Case>{
             {"/etc", "/etc"},
             {"/", "/"},
             {hostile, (outside.path() / "new\\nline\\x1b[31m.jpg").string()},
             {h + "/nothing.jpg", "nothing.jpg"},
             {".config", ".config"},
             {".config/app/file.txt", "file.txt"},
             {"Photos/.secret.jpg", ".secret.jpg"},
             {"Library/Caches", "Library"},
             {"Old.photoslibrary", "Old.photoslibrary"},
             {"file://elsewhere.example/etc/passwd", "elsewhere.example"},
             {"sftp://host/home/me", "sftp://host"},
             {fileURLForPath("/etc/hosts"), "/etc/hosts"},
         }) {
        PlaceRequest r = PlaceRequest::resolve({c.argument}, h);
        EXPECT_FALSE(r.place) << c.argument;
        EXPECT_TRUE(r.accepted.empty()) << c.argument;
        ASSERT_EQ(r.refusals.size(), 1u) << c.argument;
        EXPECT_TRUE(oneLineNaming(r.refusals[0], c.named)) << r.refusals[0];
    }

    // Refused first arguments do not decide the folder; a "Library" below
    // the home folder's top is an ordinary folder.
    PlaceRequest r = PlaceRequest::resolve({"/etc/hosts", "Photos/Library"}, h);
    EXPECT_EQ(r.place, (Place{h + "/Photos/Library", {}}));
    EXPECT_EQ(r.refusals.size(), 1u);
}

TEST(PlaceRequestTest, LinksAreFollowedOnlyToTellWhetherAPlaceIsInsideHome) {
    const std::string h = home();
    touch(h + "/Photos/a.jpg");
    TempDir outside("qm-outside");
    touch(outside / "disk/b.jpg");

    // A link in home to a folder elsewhere is listed under Folders by its
    // name in home.
    fs::create_directory_symlink(outside / "disk", h + "/Disk");
    EXPECT_EQ(PlaceRequest::resolve({"Disk/b.jpg"}, h).place, (Place{h + "/Disk", {h + "/Disk/b.jpg"}}));

    // A path elsewhere that leads into home is that place in home.
    fs::create_directory_symlink(h + "/Photos", outside / "photos-link");
    PlaceRequest viaLink = PlaceRequest::resolve({(outside / "photos-link/a.jpg").string()}, "/");
    EXPECT_EQ(viaLink.place, (Place{h + "/Photos", {h + "/Photos/a.jpg"}}));
    EXPECT_EQ(viaLink.accepted, std::vector<std::string>{h + "/Photos/a.jpg"});
}

TEST(PlaceRequestTest, APlaceBecomesTheWindowsNodeSelectionAndOpenedSidebar) {
    const std::string h = home();
    AppWindowState base;
    base.currentNode = {QuickString::literal("Tags"), QuickString::literal("trip")};
    base.currentSelection = {QuickString::literal("/elsewhere")};
    base.isExpanded = {QuickString::literal(""), QuickString::literal("Folders"), QuickString::literal("Tags")};
    base.sidebarThickness = 230;
    base.isSidebarVisible = true;
    base.scrollState.tileGrid = AppWindowState::TileGridScroll{"/elsewhere", 400};

    const AppWindowState s = stateForPlace(base, Place{h + "/Photos/2024/Trip", {h + "/Photos/2024/Trip/a.jpg"}});
    EXPECT_EQ(s.currentNode, (std::vector<QuickString>{QuickString::literal("Folders"), QuickString::literal("Photos"),
                                                       QuickString::literal("2024"), QuickString::literal("Trip")}));
    EXPECT_EQ(s.currentSelection, std::vector<QuickString>{QuickString::literal(h + "/Photos/2024/Trip/a.jpg")});
    // Every folder above is open, once; the folder itself need not be.
    auto count = [&](const std::string& name) {
        return std::count(s.isExpanded.begin(), s.isExpanded.end(), QuickString::literal(name));
    };
    EXPECT_EQ(count("Folders"), 1);
    EXPECT_EQ(count("Folders/Photos"), 1);
    EXPECT_EQ(count("Folders/Photos/2024"), 1);
    EXPECT_EQ(count("Folders/Photos/2024/Trip"), 0);
    EXPECT_EQ(count("Tags"), 1);
    // The rest of the window as it was; no scroll position from elsewhere.
    EXPECT_EQ(s.sidebarThickness, 230);
    EXPECT_TRUE(s.isSidebarVisible);
    EXPECT_FALSE(s.scrollState.tileGrid);
    EXPECT_TRUE(s.isTileGridViewFocused);

    const AppWindowState atHome = stateForPlace(base, Place{h, {}});
    EXPECT_EQ(atHome.currentNode, std::vector<QuickString>{QuickString::literal("Folders")});
    EXPECT_FALSE(atHome.isTileGridViewFocused);
}

}  // namespace
}  // namespace qm::test
