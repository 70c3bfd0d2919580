#include "ui/TitleStrip.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

const QColor StripColor(58, 110, 165);

} // namespace

TTitleStrip::TTitleStrip(const QString &title, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TitleStrip"));
    setFixedHeight(33);
    setAutoFillBackground(true);
    QPalette colours = palette();
    const QColor textColor = colours.color(QPalette::Base);
    colours.setColor(QPalette::Window, StripColor);
    colours.setColor(QPalette::WindowText, textColor);
    setPalette(colours);

    FLayout = new QHBoxLayout(this);
    FLayout->setContentsMargins(8, 0, 8, 0);
    FLayout->setSpacing(4);
    FTitle = new QLabel(title, this);
    FTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont face(QStringLiteral("Tahoma"));
    face.setPixelSize(16);
    face.setBold(true);
    FTitle->setFont(face);
    FLayout->addWidget(FTitle);
    FLayout->addStretch(1);
}

QLabel *TTitleStrip::AddRightLabel(const QString &text, const QString &objectName) {
    auto *label = new QLabel(text, this);
    if (!objectName.isEmpty())
        label->setObjectName(objectName);
    FLayout->addWidget(label);
    return label;
}
