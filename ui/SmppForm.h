#pragma once

#include <QWidget>

class AppData;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class SmppProbe;

// The SMS centre's account and how runs use it: every field is stored in the settings as
// soon as it is left, the password in the desktop's password store. Connect tries the
// account (binds and unbinds) and says how it went.
class SmppForm : public QWidget {
    Q_OBJECT
public:
    explicit SmppForm(AppData &data, QWidget *parent = nullptr);
    ~SmppForm() override;

    // Starts a bind probe unless one runs; the status label gives the outcome.
    void connectToCentre();

    QLineEdit *hostEdit = nullptr;
    QSpinBox *portSpin = nullptr;
    QCheckBox *tlsCheck = nullptr;
    QLineEdit *certificateEdit = nullptr;
    QLineEdit *systemIdEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QLineEdit *systemTypeEdit = nullptr;
    QLineEdit *sourceEdit = nullptr;
    QComboBox *bindCombo = nullptr;
    QCheckBox *receiptsCheck = nullptr;
    QSpinBox *windowSpin = nullptr;
    QDoubleSpinBox *rateSpin = nullptr;
    QCheckBox *latin1Check = nullptr;
    QPushButton *connectButton = nullptr;
    QLabel *statusLabel = nullptr;

private:
    void showSettings();
    void storeSettings();
    void onPasswordEdited();
    void onProbeFinished(bool ok, const QString &text);
    void updateActions();

    AppData &m_data;
    SmppProbe *m_probe = nullptr;
};
