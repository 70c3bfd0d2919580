#include "ui/ViewTitle.h"

#include <QHBoxLayout>
#include <QLabel>

TViewTitle::TViewTitle(const QString &title, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TitleStrip"));
    setFixedHeight(Height);
    setAutoFillBackground(true);
    QPalette strip = palette();
    strip.setColor(QPalette::Window, StripColor());
    // Text drawn on the strip takes the colour of an edit's background, as on the desktop.
    strip.setColor(QPalette::WindowText, palette().color(QPalette::Base));
    setPalette(strip);

    FLayout = new QHBoxLayout(this);
    FLayout->setContentsMargins(8, 0, 8, 0);
    FLayout->setSpacing(6);
    FLabel = new QLabel(title, this);
    FLabel->setObjectName(QStringLiteral("Label1"));
    StyleLabel(FLabel);
    FLayout->addWidget(FLabel);
    FLayout->addStretch(1);
}

QFont TViewTitle::TitleFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

void TViewTitle::StyleLabel(QLabel *label) const {
    label->setFont(TitleFont());
    label->setPalette(palette());
}
