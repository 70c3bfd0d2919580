#pragma once

#include <QDialog>

// The about window: the program's picture, name and version, and OK.
class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *parent = nullptr);
};
