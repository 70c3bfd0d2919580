#include "ui/AboutDialog.h"

#include "resources/ImageRoles.h"
#include "ui/MainWindow.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About %1").arg(QLatin1StringView(PelorvaneAppName)));
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("programImage"));
    picture->setPixmap(QIcon(programIconPath()).pixmap(64, 64));
    row->addWidget(picture, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    auto *name = new QLabel(QLatin1StringView(PelorvaneAppName), this);
    name->setObjectName(QStringLiteral("nameLabel"));
    QFont bold = name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.5);
    name->setFont(bold);
    auto *version =
        new QLabel(QStringLiteral("Version %1").arg(QLatin1StringView(PELORVANE_VERSION)), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    auto *purpose =
        new QLabel(QStringLiteral("Sends text messages in bulk through a GSM phone."), this);
    purpose->setWordWrap(true);
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(purpose);
    texts->addStretch(1);
    row->addLayout(texts, 1);
    layout->addLayout(row);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setSizeGripEnabled(false);
}
