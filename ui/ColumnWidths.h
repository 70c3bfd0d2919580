#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QAbstractItemView;
class QHeaderView;
class IniFile;

// The widths of a list's columns: the columns named by fit take the width of their content
// the first time the list is shown (between a width that shows sample and a maximum),
// and every width the user sets by dragging is kept in the settings file under
// "<name>_<caption>_Width". Only the rows on screen are measured: a list of a million rows
// costs what a screenful does.
class ColumnWidths : public QObject {
    Q_OBJECT
public:
    ColumnWidths(QAbstractItemView *view, QHeaderView *header, const QString &name);

    // A column that fits its content; sample is a text that must show in full (a long number).
    void fit(int column, const QString &sample, int maximum);

    // Applies the stored widths; a stored column no longer fits its content.
    void read(const IniFile &ini, const QString &section);
    // Stores the widths the user has set.
    void write(IniFile &ini, const QString &section) const;
    // Fits the columns the user has not set; runs once, when the list is first shown.
    void fitOnce();

    // The width that shows the column's cells on screen, its caption and sample in full.
    int contentWidth(int column, const QString &sample) const;
    bool isUserSet(int column) const { return m_userSet.contains(column); }

private:
    struct Fitted {
        int column;
        QString sample;
        int maximum;
    };

    void onSectionResized(int column);
    QString key(int column) const;
    void resizeColumn(int column, int width);

    QAbstractItemView *m_view;
    QHeaderView *m_header;
    QString m_name;
    QList<Fitted> m_fitted;
    QList<int> m_userSet;
    bool m_resizing = false;
    bool m_fittedOnce = false;
};
