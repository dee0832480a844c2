#include "tilegrid/TileContextMenu.h"

#include <QMenu>
#include <QPointer>

#include "tilegrid/PlaceNames.h"

namespace qm {

namespace {

// The map entry says where, by name once it is known.
void titleWithPlaceName(QAction* action, const GPS& gps) {
    PlaceNames& names = PlaceNames::shared();
    if (auto name = names.cached(gps)) {
        action->setText(QString::fromStdString(*name));
        return;
    }
    QPointer<QAction> guarded(action);
    names.lookup(gps, [guarded](const std::string& name) {
        if (guarded) guarded->setText(QString::fromStdString(name));
    });
}

}  // namespace

QMenu* TileContextMenu::make(const std::vector<TileMenuEntry>& entries, QWidget* parent, Run run) {
    if (entries.empty()) return nullptr;
    auto* menu = new QMenu(parent);
    for (const TileMenuEntry& e : entries) {
        switch (e.kind) {
        case TileMenuEntry::Kind::separator: menu->addSeparator(); break;
        case TileMenuEntry::Kind::header: menu->addAction(QString::fromStdString(e.title))->setEnabled(false); break;
        case TileMenuEntry::Kind::item: {
            using A = TileMenuEntry::Action;
            QAction* action = menu->addAction(QString::fromStdString(e.title));
            if (e.action == A::open) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
            if (e.action == A::remove) action->setShortcut(QKeySequence(Qt::Key_Delete));
            if (e.action == A::jumpToTag) {
                action->setCheckable(e.checked);
                action->setChecked(e.checked);
            }
            if (e.action == A::jumpToMap && e.gps) titleWithPlaceName(action, *e.gps);
            QObject::connect(action, &QAction::triggered, parent, [run, e] { run(e); });
            break;
        }
        }
    }
    return menu;
}

QMenu* TileContextMenu::popUp(QMenu* menu, QPoint globalPos) {
    if (!menu) return nullptr;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
    return menu;
}

}  // namespace qm
