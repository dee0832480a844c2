#pragma once

#include <QCompleter>

#include <memory>

namespace qm {

class Tree;

// Completes tag paths one level at a time, as they are typed: "wo" offers
// the top-level tags (and colour labels) that start with it, "Work/2" the
// sub-tags of Work that start with "2". Each level's names are read from
// the tree only when the typing reaches it, so opening costs nothing however
// many tags there are; what was read stays as it was while the completer
// lives.
class TagCompleter : public QCompleter {
    Q_OBJECT

public:
    TagCompleter(const Tree& tree, QObject* parent = nullptr);
    ~TagCompleter() override;

    QStringList splitPath(const QString& path) const override;
    QString pathFromIndex(const QModelIndex& index) const override;
};

}  // namespace qm
