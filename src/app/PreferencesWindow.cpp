#include "app/PreferencesWindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "library/SettingsSchema.h"
#include "map/TileLoader.h"
#include "map/TilePolicy.h"

namespace qm {

namespace {
QString defaultTileURL() {
    const std::string_view url = settings::mapTileURLTemplate.fallback;
    return QString::fromUtf8(url.data(), qsizetype(url.size()));
}
}  // namespace

PreferencesWindow::PreferencesWindow(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window), defaults_(defaults) {
    setObjectName("preferencesWindow");
    setWindowTitle(QStringLiteral("Preferences"));

    auto* segments = new QWidget(this);
    auto* segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    themeSegments_ = new QButtonGroup(this);
    themeSegments_->setExclusive(true);
    const char* names[] = {"Light", "Dark", "Auto"};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QToolButton(segments);
        button->setText(QString::fromLatin1(names[i]));
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setMinimumWidth(72);
        themeSegments_->addButton(button, i);
        segmentsLayout->addWidget(button);
    }
    segmentsLayout->addStretch(1);

    mapTiles_ = new QCheckBox(QStringLiteral("Show online map tiles"), this);
    tileURL_ = new QLineEdit(this);
    tileURL_->setPlaceholderText(defaultTileURL());
    tileURL_->setMinimumWidth(360);
    auto* tileHint = new QLabel(
        QStringLiteral("The address of one tile, with {z}, {x} and {y} for zoom, column and row. "
                       "Without online tiles the map shows its built-in world map."),
        this);
    tileHint->setWordWrap(true);
    tileHint->setForegroundRole(QPalette::PlaceholderText);
    tileURLRefused_ = new QLabel(QStringLiteral("Only http and https addresses can be used."), this);
    tileURLRefused_->setWordWrap(true);
    tileURLRefused_->hide();

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Theme:"), segments);
    form->addRow(QStringLiteral("Map:"), mapTiles_);
    form->addRow(QStringLiteral("Tile address:"), tileURL_);
    form->addRow(QString(), tileURLRefused_);
    form->addRow(QString(), tileHint);

    reload();
    connect(mapTiles_, &QCheckBox::toggled, this, [this](bool on) {
        defaults_.set(settings::mapTilesEnabled, on);
        tileURL_->setEnabled(on);
        // Every map showing follows at once.
        TileLoader::applyPreferences(defaults_);
    });
    connect(tileURL_, &QLineEdit::editingFinished, this, &PreferencesWindow::storeTileURL);
}

void PreferencesWindow::reload() {
    const bool on = defaults_.get(settings::mapTilesEnabled);
    QSignalBlocker block(mapTiles_);
    mapTiles_->setChecked(on);
    tileURL_->setEnabled(on);
    tileURL_->setText(QString::fromStdString(defaults_.get(settings::mapTileURLTemplate)));
    tileURLRefused_->hide();
}

void PreferencesWindow::storeTileURL() {
    QString text = tileURL_->text().trimmed();
    if (text.isEmpty()) {
        // An empty field goes back to the standard tiles.
        text = defaultTileURL();
        tileURL_->setText(text);
    }
    // Another scheme (file, ftp, a bare path) is kept in the field to be
    // corrected, but never stored.
    const std::string url = text.toStdString();
    const bool accepted = TilePolicy::isAcceptedTemplate(url);
    tileURLRefused_->setVisible(!accepted);
    if (!accepted) return;
    // What reads the same already (the default while none is stored) is not written.
    if (defaults_.get(settings::mapTileURLTemplate) == url) return;
    defaults_.set(settings::mapTileURLTemplate, url);
    TileLoader::applyPreferences(defaults_);
}

}  // namespace qm
