#pragma once

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;

namespace qm {

class UserDefaults;

// The preferences: the theme (three segments, light, dark and auto, whose
// indexes are the theme's raw values) and the map's online tiles (on or off,
// and the tile address template), stored as user defaults.
class PreferencesWindow : public QWidget {
    Q_OBJECT
public:
    explicit PreferencesWindow(UserDefaults& defaults, QWidget* parent = nullptr);

    QButtonGroup* themeSegmentedControl() const { return themeSegments_; }
    QCheckBox* mapTilesCheckBox() const { return mapTiles_; }
    QLineEdit* tileURLField() const { return tileURL_; }
    // Shown while the field holds an address that is not http or https.
    QLabel* tileURLRefusal() const { return tileURLRefused_; }

    // Shows the stored map settings again.
    void reload();

private:
    void storeTileURL();

    UserDefaults& defaults_;
    QButtonGroup* themeSegments_;
    QCheckBox* mapTiles_;
    QLineEdit* tileURL_;
    QLabel* tileURLRefused_;
};

}  // namespace qm
