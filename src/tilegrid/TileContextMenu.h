#pragma once

#include <QPoint>

#include <functional>
#include <vector>

#include "tilegrid/TileMenuModel.h"

class QMenu;
class QWidget;

namespace qm {

// The grid's context menu as a toolkit menu: the controller's entries, with
// the shortcuts of the grid's keys, check marks on the tags the files carry,
// and the map entry titled with its place's name once that is looked up.
class TileContextMenu {
public:
    // Carries out an entry when it is chosen.
    using Run = std::function<void(const TileMenuEntry&)>;

    // A menu of the entries, owned by `parent`; null without entries.
    static QMenu* make(const std::vector<TileMenuEntry>& entries, QWidget* parent, Run run);
    // Pops the menu (if any) up at a global position; it deletes itself
    // when it closes.
    static QMenu* popUp(QMenu* menu, QPoint globalPos);
};

}  // namespace qm
