#include "ui/ColumnWidths.h"

#include "app/IniFile.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QStyle>

namespace {

// Enough rows for any screen; more are never read.
constexpr int MaxMeasuredRows = 200;

} // namespace

ColumnWidths::ColumnWidths(QAbstractItemView *view, QHeaderView *header, const QString &name)
    : QObject(view), m_view(view), m_header(header), m_name(name) {
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int) { onSectionResized(column); });
}

void ColumnWidths::fit(int column, const QString &sample, int maximum) {
    m_fitted.append({column, sample, maximum});
}

QString ColumnWidths::key(int column) const {
    QString caption = m_header->model()
                          ? m_header->model()->headerData(column, Qt::Horizontal).toString()
                          : QString();
    caption.remove(QLatin1Char(' '));
    if (caption.isEmpty())
        caption = QString::number(column);
    return m_name + QLatin1Char('_') + caption + QStringLiteral("_Width");
}

void ColumnWidths::read(const IniFile &ini, const QString &section) {
    if (!m_header->model())
        return;
    for (int column = 0; column < m_header->count(); ++column) {
        const int width = ini.readInteger(section, key(column), -1);
        if (width <= 0 || m_header->sectionResizeMode(column) != QHeaderView::Interactive)
            continue;
        resizeColumn(column, width);
        if (!m_userSet.contains(column))
            m_userSet.append(column);
    }
}

void ColumnWidths::write(IniFile &ini, const QString &section) const {
    for (int column : m_userSet)
        ini.writeInteger(section, key(column), m_header->sectionSize(column));
}

void ColumnWidths::fitOnce() {
    if (m_fittedOnce)
        return;
    m_fittedOnce = true;
    for (const Fitted &fitted : std::as_const(m_fitted)) {
        if (!isUserSet(fitted.column))
            resizeColumn(fitted.column,
                         qMin(contentWidth(fitted.column, fitted.sample), fitted.maximum));
    }
}

int ColumnWidths::contentWidth(int column, const QString &sample) const {
    const QFontMetrics cells = m_view->fontMetrics();
    QStyle *style = m_view->style();
    // The margins the style keeps around a cell's text and a caption's.
    const int cellMargin =
        2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 1) + 4;
    const int headerMargin = 2 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, m_header) +
                             style->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, m_header);
    int width = cells.horizontalAdvance(sample) + cellMargin;
    QAbstractItemModel *model = m_view->model();
    if (!model)
        return width;
    width = qMax(width, m_header->fontMetrics().horizontalAdvance(
                            model->headerData(column, Qt::Horizontal).toString()) +
                            headerMargin);
    const int rows = model->rowCount(m_view->rootIndex());
    const QModelIndex top = m_view->indexAt(QPoint(1, 1));
    const int first = top.isValid() ? top.row() : 0;
    const int onScreen = m_view->viewport()->height() / qMax(1, cells.height()) + 1;
    const int last = qMin(rows, first + qMin(onScreen, MaxMeasuredRows));
    for (int row = first; row < last; ++row) {
        const QString text = model->index(row, column, m_view->rootIndex()).data().toString();
        width = qMax(width, cells.horizontalAdvance(text) + cellMargin);
    }
    return width;
}

void ColumnWidths::resizeColumn(int column, int width) {
    m_resizing = true;
    m_header->resizeSection(column, width);
    m_resizing = false;
}

void ColumnWidths::onSectionResized(int column) {
    // Only what the user drags is his: a stretching column follows the list's width.
    if (m_resizing || m_header->sectionResizeMode(column) != QHeaderView::Interactive)
        return;
    if (!m_userSet.contains(column))
        m_userSet.append(column);
}
