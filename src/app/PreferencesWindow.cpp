#include "app/PreferencesWindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "library/UserDefaults.h"

namespace qm {

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
    tileURL_->setPlaceholderText(QString::fromLatin1(defaultTileURLTemplate));
    tileURL_->setMinimumWidth(360);
    auto* tileHint = new QLabel(
        QStringLiteral("The address of one tile, with {z}, {x} and {y} for zoom, column and row. "
                       "Without online tiles the map shows its built-in world map."),
        this);
    tileHint->setWordWrap(true);
    tileHint->setForegroundRole(QPalette::PlaceholderText);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Theme:"), segments);
    form->addRow(QStringLiteral("Map:"), mapTiles_);
    form->addRow(QStringLiteral("Tile address:"), tileURL_);
    form->addRow(QString(), tileHint);

    reload();
    connect(mapTiles_, &QCheckBox::toggled, this, [this](bool on) {
        defaults_.setValue(mapTilesEnabledKey, on);
        tileURL_->setEnabled(on);
    });
    connect(tileURL_, &QLineEdit::editingFinished, this, &PreferencesWindow::storeTileURL);
}

void PreferencesWindow::reload() {
    auto enabled = defaults_.value(mapTilesEnabledKey);
    const bool on = !(enabled && enabled->is_boolean()) || enabled->get<bool>();
    QSignalBlocker block(mapTiles_);
    mapTiles_->setChecked(on);
    tileURL_->setEnabled(on);
    auto url = defaults_.value(mapTileURLTemplateKey);
    tileURL_->setText(url && url->is_string() ? QString::fromStdString(url->get<std::string>())
                                              : QString::fromLatin1(defaultTileURLTemplate));
}

void PreferencesWindow::storeTileURL() {
    QString text = tileURL_->text().trimmed();
    if (text.isEmpty()) {
        // An empty field goes back to the standard tiles.
        text = QString::fromLatin1(defaultTileURLTemplate);
        tileURL_->setText(text);
    }
    auto stored = defaults_.value(mapTileURLTemplateKey);
    if (stored && stored->is_string() && stored->get<std::string>() == text.toStdString()) return;
    if (!stored && text == QLatin1String(defaultTileURLTemplate)) return;
    defaults_.setValue(mapTileURLTemplateKey, text.toStdString());
}

}  // namespace qm
