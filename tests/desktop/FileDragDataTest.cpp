#include "desktop/FileDragData.h"

#include <gtest/gtest.h>

#include <QMimeData>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

#include "core/FileURL.h"

namespace qm {
namespace {

const std::vector<std::string> kHostilePaths = {
    "/home/me/a b.jpg",
    "/home/me/x#y.png",
    "/home/me/50%.gif",
    "/home/me/50%25.gif",
    "/home/me/line\nbreak.txt",
    "/home/me/caf\xE9.jpg",
    "/home/me/\xFF\xFE",
    "/home/me/q?uery",
    "/home/me/\xC3\xA9t\xC3\xA9/pic.jpg",
    "/home/me/a;b&c=d+e",
    "/",
};

std::vector<QuickString> quick(const std::vector<std::string>& paths) {
    std::vector<QuickString> out;
    for (const std::string& p : paths)
        out.push_back(QuickString::path(p));
    return out;
}

bool isUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size())).toUtf8() ==
           QByteArray(s.data(), qsizetype(s.size()));
}

TEST(FileDragData, OurListAndQtsReadEachOtherByteForByte) {
    const std::vector<QuickString> paths = quick(kHostilePaths);

    // Ours, read back by us: the same files in order.
    std::unique_ptr<QMimeData> ours(FileDragData::forPaths(paths));
    EXPECT_TRUE(FileDragData::hasFiles(*ours));
    EXPECT_EQ(FileDragData::dropInfo(*ours).filePaths(), paths);
    std::unique_ptr<QMimeData> fromStrings(FileDragData::forPaths(kHostilePaths));
    EXPECT_EQ(fromStrings->data(FileDragData::mimeType()), ours->data(FileDragData::mimeType()));

    // Ours, read by Qt as another Qt program would: one local file per path,
    // its escaped bytes intact, and the UTF-8 names as text.
    const QList<QUrl> urls = ours->urls();
    ASSERT_EQ(size_t(urls.size()), kHostilePaths.size());
    for (size_t i = 0; i < kHostilePaths.size(); ++i) {
        EXPECT_TRUE(urls[i].isLocalFile()) << kHostilePaths[i];
        const QByteArray encoded = urls[i].toEncoded();
        EXPECT_EQ(pathForFileURL(std::string_view(encoded.constData(), size_t(encoded.size()))),
                  kHostilePaths[i]);
        if (isUtf8(kHostilePaths[i])) {
            EXPECT_EQ(urls[i].toLocalFile().toStdString(), kHostilePaths[i]);
        }
    }

    // Qt's own list, escaped by Qt, read by us.
    QList<QUrl> qtUrls;
    for (const std::string& p : kHostilePaths) {
        const QByteArray bytes(p.data(), qsizetype(p.size()));
        qtUrls.push_back(isUtf8(p) ? QUrl::fromLocalFile(QString::fromUtf8(bytes))
                                   : QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/")));
    }
    QMimeData theirs;
    theirs.setUrls(qtUrls);
    EXPECT_TRUE(FileDragData::hasFiles(theirs));
    EXPECT_EQ(FileDragData::dropInfo(theirs).filePaths(), paths);

    // Text alone is no file drag.
    QMimeData text;
    text.setText(QStringLiteral("/home/me/a.jpg"));
    EXPECT_FALSE(FileDragData::hasFiles(text));
    EXPECT_TRUE(FileDragData::dropInfo(text).items.empty());
}

}  // namespace
}  // namespace qm
