#include "ui/TitleStrip.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

const QColor StripColor(58, 110, 165);

} // namespace

TitleStrip::TitleStrip(const QString &title, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("titleStrip"));
    setFixedHeight(33);
    setAutoFillBackground(true);
    QPalette colours = palette();
    const QColor textColor = colours.color(QPalette::Base);
    colours.setColor(QPalette::Window, StripColor);
    colours.setColor(QPalette::WindowText, textColor);
    setPalette(colours);

    m_layout = new QHBoxLayout(this);
    m_layout->setContentsMargins(8, 0, 8, 0);
    m_layout->setSpacing(4);
    m_title = new QLabel(title, this);
    m_title->setObjectName(QStringLiteral("titleLabel"));
    QFont face(QStringLiteral("Tahoma"));
    face.setPixelSize(16);
    face.setBold(true);
    m_title->setFont(face);
    m_layout->addWidget(m_title);
    m_layout->addStretch(1);
}

QLabel *TitleStrip::addRightLabel(const QString &text, const QString &objectName) {
    auto *label = new QLabel(text, this);
    if (!objectName.isEmpty())
        label->setObjectName(objectName);
    m_layout->addWidget(label);
    return label;
}
