#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;

// The band at the top of a view: 33 pixels high, blue, the view's title in a bold 16-pixel
// face in the window colour. Views may put labels of their own at its right end.
class TitleStrip : public QWidget {
    Q_OBJECT
public:
    explicit TitleStrip(const QString &title, QWidget *parent = nullptr);

    QLabel *title() const { return m_title; }
    // A label in the strip's colours, placed after those added before it at the right end.
    QLabel *addRightLabel(const QString &text, const QString &objectName = QString());

private:
    QLabel *m_title;
    QHBoxLayout *m_layout;
};
