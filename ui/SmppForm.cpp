#include "ui/SmppForm.h"

#include "app/AppData.h"
#include "app/Settings.h"
#include "smpp/SmppProbe.h"
#include "ui/PasswordStore.h"

#include "base/Error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

SmppForm::SmppForm(AppData &data, QWidget *parent) : QWidget(parent), m_data(data) {
    setObjectName(QStringLiteral("smppForm"));
    auto *form = new QFormLayout(this);
    form->setContentsMargins(8, 6, 8, 6);
    const auto named = [](QWidget *widget, const char *name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };

    auto *server = new QHBoxLayout;
    hostEdit = new QLineEdit(this);
    portSpin = new QSpinBox(this);
    portSpin->setRange(1, 65535);
    tlsCheck = new QCheckBox(QStringLiteral("&TLS"), this);
    server->addWidget(named(hostEdit, "hostEdit"), 1);
    server->addWidget(new QLabel(QStringLiteral("Port:"), this));
    server->addWidget(named(portSpin, "portSpin"));
    server->addWidget(named(tlsCheck, "tlsCheck"));
    form->addRow(QStringLiteral("&Host:"), server);
    hostEdit->setPlaceholderText(QStringLiteral("smpp.example.net"));
    certificateEdit = new QLineEdit(this);
    certificateEdit->setPlaceholderText(
        QStringLiteral("a PEM file, when the system does not know the centre's certificate"));
    form->addRow(QStringLiteral("Certi&ficate:"), named(certificateEdit, "certificateEdit"));

    systemIdEdit = new QLineEdit(this);
    form->addRow(QStringLiteral("S&ystem ID:"), named(systemIdEdit, "systemIdEdit"));
    passwordEdit = new QLineEdit(this);
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setPlaceholderText(QStringLiteral("kept in the desktop's password store"));
    form->addRow(QStringLiteral("Pass&word:"), named(passwordEdit, "passwordEdit"));
    systemTypeEdit = new QLineEdit(this);
    systemTypeEdit->setPlaceholderText(QStringLiteral("only when the provider asks for one"));
    form->addRow(QStringLiteral("System t&ype:"), named(systemTypeEdit, "systemTypeEdit"));
    sourceEdit = new QLineEdit(this);
    sourceEdit->setPlaceholderText(QStringLiteral("a number, or a name of up to 11 letters"));
    form->addRow(QStringLiteral("Se&nder:"), named(sourceEdit, "sourceEdit"));

    bindCombo = new QComboBox(this);
    bindCombo->addItem(QStringLiteral("Transceiver (sends and takes receipts)"));
    bindCombo->addItem(QStringLiteral("Transmitter (sends only)"));
    form->addRow(QStringLiteral("&Bind as:"), named(bindCombo, "bindCombo"));
    receiptsCheck = new QCheckBox(QStringLiteral("Ask for &delivery receipts"), this);
    form->addRow(QString(), named(receiptsCheck, "receiptsCheck"));

    auto *flow = new QHBoxLayout;
    windowSpin = new QSpinBox(this);
    windowSpin->setRange(1, 100);
    windowSpin->setToolTip(QStringLiteral("Messages sent and not yet answered, at most"));
    rateSpin = new QDoubleSpinBox(this);
    rateSpin->setRange(0, 10000);
    rateSpin->setDecimals(1);
    rateSpin->setSpecialValueText(QStringLiteral("no limit"));
    rateSpin->setSuffix(QStringLiteral(" per second"));
    flow->addWidget(named(windowSpin, "windowSpin"));
    flow->addWidget(new QLabel(QStringLiteral("Rate:"), this));
    flow->addWidget(named(rateSpin, "rateSpin"));
    flow->addStretch(1);
    form->addRow(QStringLiteral("W&indow:"), flow);
    latin1Check =
        new QCheckBox(QStringLiteral("The centre reads its default alphabet as &Latin-1"), this);
    form->addRow(QString(), named(latin1Check, "latin1Check"));

    auto *test = new QHBoxLayout;
    connectButton = new QPushButton(QStringLiteral("&Connect"), this);
    connectButton->setToolTip(QStringLiteral("Log in to the SMS centre and out again"));
    statusLabel = new QLabel(this);
    statusLabel->setWordWrap(true);
    statusLabel->setTextFormat(Qt::PlainText);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    test->addWidget(named(connectButton, "connectButton"));
    test->addWidget(named(statusLabel, "smppStatusLabel"), 1);
    form->addRow(QString(), test);

    showSettings();
    for (QLineEdit *edit : {hostEdit, certificateEdit, systemIdEdit, systemTypeEdit, sourceEdit})
        connect(edit, &QLineEdit::editingFinished, this, &SmppForm::storeSettings);
    connect(passwordEdit, &QLineEdit::editingFinished, this, &SmppForm::onPasswordEdited);
    for (QCheckBox *check : {tlsCheck, receiptsCheck, latin1Check})
        connect(check, &QCheckBox::toggled, this, &SmppForm::storeSettings);
    connect(portSpin, &QSpinBox::editingFinished, this, &SmppForm::storeSettings);
    connect(windowSpin, &QSpinBox::editingFinished, this, &SmppForm::storeSettings);
    connect(rateSpin, &QDoubleSpinBox::editingFinished, this, &SmppForm::storeSettings);
    connect(bindCombo, &QComboBox::activated, this, &SmppForm::storeSettings);
    connect(connectButton, &QPushButton::clicked, this, &SmppForm::connectToCentre);
    updateActions();
}

SmppForm::~SmppForm() = default;

void SmppForm::showSettings() {
    const SmppSettings smpp = m_data.settings->smppSettings();
    const QSignalBlocker quietTls(tlsCheck);
    const QSignalBlocker quietReceipts(receiptsCheck);
    const QSignalBlocker quietLatin1(latin1Check);
    hostEdit->setText(smpp.host);
    portSpin->setValue(smpp.port);
    tlsCheck->setChecked(smpp.tls);
    certificateEdit->setText(smpp.certificate);
    systemIdEdit->setText(smpp.systemId);
    systemTypeEdit->setText(smpp.systemType);
    sourceEdit->setText(smpp.source);
    bindCombo->setCurrentIndex(smpp.bindMode == SmppBindMode::Transmitter ? 1 : 0);
    receiptsCheck->setChecked(smpp.receipts);
    windowSpin->setValue(smpp.window);
    rateSpin->setValue(smpp.rate);
    latin1Check->setChecked(smpp.latin1Default);
}

void SmppForm::storeSettings() {
    SmppSettings smpp = m_data.settings->storedSmppSettings();
    smpp.host = hostEdit->text().trimmed();
    smpp.port = portSpin->value();
    smpp.tls = tlsCheck->isChecked();
    smpp.certificate = certificateEdit->text().trimmed();
    smpp.systemId = systemIdEdit->text().trimmed();
    smpp.systemType = systemTypeEdit->text().trimmed();
    smpp.source = sourceEdit->text().trimmed();
    smpp.bindMode =
        bindCombo->currentIndex() == 1 ? SmppBindMode::Transmitter : SmppBindMode::Transceiver;
    smpp.receipts = receiptsCheck->isChecked();
    smpp.window = windowSpin->value();
    smpp.rate = rateSpin->value();
    smpp.latin1Default = latin1Check->isChecked();
    if (smpp != m_data.settings->storedSmppSettings())
        m_data.settings->setSmppSettings(smpp);
    updateActions();
}

void SmppForm::onPasswordEdited() {
    const QByteArray password = passwordEdit->text().toUtf8();
    if (password.isEmpty())
        return;
    // The field keeps nothing once the store (or this program run) has it.
    passwordEdit->clear();
    const SmppSettings smpp = m_data.settings->smppSettings();
    const QString error = PasswordStore::write(
        PasswordStore::keyFor(smpp.host, quint16(smpp.port), smpp.systemId.toUtf8()), password);
    statusLabel->setText(error.isEmpty()
                             ? QStringLiteral("The password is kept in the password store.")
                             : error + QStringLiteral(": the password is kept until the "
                                                      "program ends, and asked for after."));
}

void SmppForm::connectToCentre() {
    if (m_probe)
        return;
    SmppConfig config;
    try {
        config = m_data.smppConfig();
    } catch (const Error &e) {
        statusLabel->setText(QStringLiteral("Could not connect: ") + e.message());
        return;
    }
    m_probe = new SmppProbe(config, this);
    connect(m_probe, &SmppProbe::finished, this, &SmppForm::onProbeFinished);
    statusLabel->setText(QStringLiteral("Connecting\u2026"));
    updateActions();
    m_probe->start();
}

void SmppForm::onProbeFinished(bool ok, const QString &text) {
    statusLabel->setText(ok ? text : QStringLiteral("Could not connect: ") + text);
    // Finished comes from inside the probe: it goes once control is back in the event loop.
    m_probe->deleteLater();
    m_probe = nullptr;
    updateActions();
}

void SmppForm::updateActions() {
    connectButton->setEnabled(!m_probe && !hostEdit->text().trimmed().isEmpty() &&
                              !systemIdEdit->text().trimmed().isEmpty());
    certificateEdit->setEnabled(tlsCheck->isChecked());
}
