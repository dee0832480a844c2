#include "tilegrid/TagCompleter.h"

#include <QAbstractItemModel>

#include <deque>
#include <optional>
#include <vector>

#include "library/Tree.h"
#include "tilegrid/AddTagAction.h"

namespace qm {

namespace {

// The tag nodes as a tree model whose rows are made on first use, so a
// level is read from the tree only when the completer descends into it.
// The root's rows are the colour labels and the top-level tags.
class TagTreeModel final : public QAbstractItemModel {
public:
    explicit TagTreeModel(const Tree& tree, QObject* parent) : QAbstractItemModel(parent) {
        root_.nodes.reserve(tree.colorsNode()->sortedChildren().size() +
                            tree.tagsNode()->sortedChildren().size());
        for (const NodePtr& n : tree.colorsNode()->sortedChildren())
            root_.nodes.push_back(n);
        for (const NodePtr& n : tree.tagsNode()->sortedChildren())
            root_.nodes.push_back(n);
    }

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        const Item* level = itemFor(parent);
        if (column != 0 || row < 0 || size_t(row) >= level->nodes.size()) return {};
        return createIndex(row, column, childItem(*level, size_t(row)));
    }
    QModelIndex parent(const QModelIndex& index) const override {
        if (!index.isValid()) return {};
        const Item* item = static_cast<const Item*>(index.internalPointer());
        const Item* up = item->parent;
        if (up == &root_) return {};
        return createIndex(int(up->row), 0, up);
    }
    int rowCount(const QModelIndex& parent) const override {
        if (parent.column() > 0) return 0;
        return int(itemFor(parent)->nodes.size());
    }
    int columnCount(const QModelIndex&) const override { return 1; }
    bool hasChildren(const QModelIndex& parent) const override { return rowCount(parent) > 0; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
        const Item* item = static_cast<const Item*>(index.internalPointer());
        if (!item->name) {
            std::string_view n = item->node->name.utf8();
            item->name = QString::fromUtf8(n.data(), qsizetype(n.size()));
        }
        return *item->name;
    }

private:
    struct Item {
        NodePtr node;  // kept, so a node the tree drops meanwhile stays readable
        const Item* parent = nullptr;
        size_t row = 0;
        mutable std::optional<QString> name;
        // The node's children, read on first use; their items are made one by one.
        mutable std::vector<NodePtr> nodes;
        mutable std::vector<const Item*> items;
        mutable bool isRead = false;
    };

    const Item* itemFor(const QModelIndex& index) const {
        if (!index.isValid()) return &root_;
        const Item* item = static_cast<const Item*>(index.internalPointer());
        if (!item->isRead) {
            item->isRead = true;
            item->nodes = item->node->sortedChildren();
        }
        return item;
    }
    const Item* childItem(const Item& level, size_t row) const {
        if (level.items.size() < level.nodes.size()) level.items.resize(level.nodes.size(), nullptr);
        if (!level.items[row]) {
            Item& made = store_.emplace_back();
            made.node = level.nodes[row];
            made.parent = &level;
            made.row = row;
            level.items[row] = &made;
        }
        return level.items[row];
    }

    Item root_;
    mutable std::deque<Item> store_;  // stable addresses for the indexes' pointers
};

}  // namespace

TagCompleter::TagCompleter(const Tree& tree, QObject* parent) : QCompleter(parent) {
    setModel(new TagTreeModel(tree, this));
    setCaseSensitivity(Qt::CaseInsensitive);
    // Natural order is not the order the completer's binary search expects.
    setModelSorting(QCompleter::UnsortedModel);
    setCompletionMode(QCompleter::PopupCompletion);
}

TagCompleter::~TagCompleter() = default;

QStringList TagCompleter::splitPath(const QString& path) const {
    const QByteArray utf8 = path.toUtf8();
    QStringList out;
    for (const std::string& level : AddTagAction::typedLevels(std::string_view(utf8.constData(), size_t(utf8.size()))))
        out << QString::fromUtf8(level.data(), qsizetype(level.size()));
    return out;
}

QString TagCompleter::pathFromIndex(const QModelIndex& index) const {
    QStringList levels;
    for (QModelIndex i = index; i.isValid(); i = i.parent()) levels.prepend(i.data().toString());
    return levels.join(u'/');
}

}  // namespace qm
