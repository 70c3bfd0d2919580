#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;

// The strip at the top of every view: 33 pixels high, red 58 green 110 blue 165, the title
// in a 16-pixel bold Tahoma face (or the closest face the system has) in the system window
// colour. Views may add their own labels to its right end through Layout().
class TViewTitle : public QWidget {
    Q_OBJECT
public:
    static constexpr int Height = 33;

    explicit TViewTitle(const QString &title, QWidget *parent = nullptr);

    QLabel *Label() const { return FLabel; }
    QHBoxLayout *Layout() const { return FLayout; }

    // The face, colour and background of the strip, for labels added to it.
    static QFont TitleFont();
    static QColor StripColor() { return QColor(58, 110, 165); }
    void StyleLabel(QLabel *label) const;

private:
    QLabel *FLabel;
    QHBoxLayout *FLayout;
};
