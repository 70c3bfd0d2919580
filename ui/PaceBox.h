#pragma once

#include <QGroupBox>

class QCheckBox;
class QDoubleSpinBox;
class QSpinBox;
class QTimeEdit;
class AppData;

// The "Pace" group of the phone view: the pause between messages and its jitter, the caps
// per hour and per day of the SIM, the quiet hours (kept in the settings file) and the time of
// day runs begin at (this program run only). Every change takes effect at the next Start.
class PaceBox : public QGroupBox {
    Q_OBJECT
public:
    explicit PaceBox(AppData &data, QWidget *parent = nullptr);

    // Shows the settings' values again.
    void loadSettings();

    QDoubleSpinBox *intervalSpin = nullptr;
    QSpinBox *jitterSpin = nullptr;
    QSpinBox *perHourSpin = nullptr;
    QSpinBox *perDaySpin = nullptr;
    QCheckBox *quietCheck = nullptr;
    QTimeEdit *quietFromEdit = nullptr;
    QTimeEdit *quietUntilEdit = nullptr;
    QCheckBox *startAtCheck = nullptr;
    QTimeEdit *startAtEdit = nullptr;

private:
    void storeSettings();
    void updateActions();

    AppData &m_data;
    bool m_loading = false;
};
