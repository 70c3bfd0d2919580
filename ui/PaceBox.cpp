#include "ui/PaceBox.h"

#include "app/AppData.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>

namespace {

constexpr int MaxCap = 1000000;

QSpinBox *capSpin(QWidget *parent, const char *name) {
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1StringView(name));
    spin->setRange(0, MaxCap);
    spin->setSpecialValueText(QStringLiteral("no limit"));
    return spin;
}

QTimeEdit *timeEdit(QWidget *parent, const char *name, QTime time) {
    auto *edit = new QTimeEdit(time, parent);
    edit->setObjectName(QLatin1StringView(name));
    edit->setDisplayFormat(QStringLiteral("HH:mm"));
    return edit;
}

} // namespace

PaceBox::PaceBox(AppData &data, QWidget *parent)
    : QGroupBox(QStringLiteral("Pace"), parent), m_data(data) {
    setObjectName(QStringLiteral("paceGroup"));
    auto *grid = new QGridLayout(this);

    intervalSpin = new QDoubleSpinBox(this);
    intervalSpin->setObjectName(QStringLiteral("intervalSpin"));
    intervalSpin->setRange(0, 86400);
    intervalSpin->setDecimals(1);
    intervalSpin->setSuffix(QStringLiteral(" s"));
    intervalSpin->setSpecialValueText(QStringLiteral("none"));
    intervalSpin->setToolTip(
        QStringLiteral("Operators block SIMs that send as fast as the phone answers"));
    jitterSpin = new QSpinBox(this);
    jitterSpin->setObjectName(QStringLiteral("jitterSpin"));
    jitterSpin->setRange(0, 100);
    jitterSpin->setPrefix(QStringLiteral("± "));
    jitterSpin->setSuffix(QStringLiteral(" %"));
    jitterSpin->setToolTip(QStringLiteral("Each pause varies at random by up to this much"));
    auto *intervalLabel = new QLabel(QStringLiteral("Pause between messages:"), this);
    intervalLabel->setBuddy(intervalSpin);
    grid->addWidget(intervalLabel, 0, 0);
    auto *intervalRow = new QHBoxLayout;
    intervalRow->addWidget(intervalSpin);
    intervalRow->addWidget(jitterSpin);
    intervalRow->addStretch(1);
    grid->addLayout(intervalRow, 0, 1);

    perHourSpin = capSpin(this, "perHourSpin");
    perDaySpin = capSpin(this, "perDaySpin");
    auto *capLabel = new QLabel(QStringLiteral("At most, for this SIM:"), this);
    capLabel->setBuddy(perHourSpin);
    grid->addWidget(capLabel, 1, 0);
    auto *capRow = new QHBoxLayout;
    capRow->addWidget(perHourSpin);
    capRow->addWidget(new QLabel(QStringLiteral("per hour"), this));
    capRow->addWidget(perDaySpin);
    capRow->addWidget(new QLabel(QStringLiteral("per day"), this));
    capRow->addStretch(1);
    grid->addLayout(capRow, 1, 1);

    quietCheck = new QCheckBox(QStringLiteral("Quiet hours from"), this);
    quietCheck->setObjectName(QStringLiteral("quietCheck"));
    quietFromEdit = timeEdit(this, "quietFromEdit", QTime(21, 0));
    quietUntilEdit = timeEdit(this, "quietUntilEdit", QTime(8, 0));
    grid->addWidget(quietCheck, 2, 0);
    auto *quietRow = new QHBoxLayout;
    quietRow->addWidget(quietFromEdit);
    quietRow->addWidget(new QLabel(QStringLiteral("to"), this));
    quietRow->addWidget(quietUntilEdit);
    quietRow->addStretch(1);
    grid->addLayout(quietRow, 2, 1);

    startAtCheck = new QCheckBox(QStringLiteral("Start runs at"), this);
    startAtCheck->setObjectName(QStringLiteral("startAtCheck"));
    startAtCheck->setToolTip(
        QStringLiteral("A time already past today means tomorrow; until the program ends"));
    startAtEdit = timeEdit(this, "startAtEdit", QTime(8, 0));
    grid->addWidget(startAtCheck, 3, 0);
    auto *startRow = new QHBoxLayout;
    startRow->addWidget(startAtEdit);
    startRow->addStretch(1);
    grid->addLayout(startRow, 3, 1);

    loadSettings();
    for (QSpinBox *spin : {jitterSpin, perHourSpin, perDaySpin})
        connect(spin, &QSpinBox::valueChanged, this, &PaceBox::storeSettings);
    connect(intervalSpin, &QDoubleSpinBox::valueChanged, this, &PaceBox::storeSettings);
    for (QCheckBox *check : {quietCheck, startAtCheck})
        connect(check, &QCheckBox::toggled, this, &PaceBox::storeSettings);
    for (QTimeEdit *edit : {quietFromEdit, quietUntilEdit, startAtEdit})
        connect(edit, &QTimeEdit::timeChanged, this, &PaceBox::storeSettings);
}

void PaceBox::loadSettings() {
    m_loading = true;
    const PacePlan plan = m_data.settings->storedPacePlan();
    intervalSpin->setValue(plan.intervalMs / 1000.0);
    jitterSpin->setValue(plan.jitterPercent);
    perHourSpin->setValue(plan.perHour);
    perDaySpin->setValue(plan.perDay);
    quietCheck->setChecked(plan.hasQuietHours());
    if (plan.hasQuietHours()) {
        quietFromEdit->setTime(plan.quietFrom);
        quietUntilEdit->setTime(plan.quietUntil);
    }
    startAtCheck->setChecked(m_data.startAt.isValid());
    if (m_data.startAt.isValid())
        startAtEdit->setTime(m_data.startAt);
    m_loading = false;
    updateActions();
}

void PaceBox::storeSettings() {
    updateActions();
    if (m_loading)
        return;
    PacePlan plan;
    plan.intervalMs = qRound(intervalSpin->value() * 1000);
    plan.jitterPercent = jitterSpin->value();
    plan.perHour = perHourSpin->value();
    plan.perDay = perDaySpin->value();
    // Equal times would be no quiet hours at all.
    if (quietCheck->isChecked() && quietFromEdit->time() != quietUntilEdit->time()) {
        plan.quietFrom = quietFromEdit->time();
        plan.quietUntil = quietUntilEdit->time();
    }
    m_data.settings->setPacePlan(plan);
    m_data.startAt = startAtCheck->isChecked() ? startAtEdit->time() : QTime();
}

void PaceBox::updateActions() {
    jitterSpin->setEnabled(intervalSpin->value() > 0);
    quietFromEdit->setEnabled(quietCheck->isChecked());
    quietUntilEdit->setEnabled(quietCheck->isChecked());
    startAtEdit->setEnabled(startAtCheck->isChecked());
}
