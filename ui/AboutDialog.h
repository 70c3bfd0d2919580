#pragma once

#include <QDialog>

// The about window: the program's picture, name and version, and OK.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
};
