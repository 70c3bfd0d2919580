// The messages view on real widgets: rows read from the list on demand, dates and joined
// lines, the preview, Delete, Resend, Forward, Select All, keys and the header.

#include "app/Database.h"
#include "data/MessageUnit.h"
#include "data/OleDate.h"
#include "support/ViewTestHost.h"
#include "ui/ComposeForm.h"
#include "ui/Dialogs.h"
#include "ui/MessageForm.h"
#include "ui/MessageModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

TMessage MakeMessage(int i, TMessageStatus status = msPending) {
    TMessage message;
    message.Number = "+49170" + QByteArray::number(1000 + i);
    message.Text = QStringLiteral("message %1").arg(i);
    message.Created = DateTimeToOle(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    message.Status = status;
    return message;
}

struct TFixture {
    TFixture() {
        Data = std::make_unique<TDataModule1>(Dir.filePath(QStringLiteral("pelorvane.ini")));
        Host = std::make_unique<TViewTestHost>(*Data);
        Outbox = Host->OutboxView();
        Sent = Host->SentView();
        Host->Pane->show();
        Outbox->show();
        DialogHooks().Message = [this](const QString &text, TMsgKind kind,
                                       QMessageBox::StandardButtons) {
            Questions << text;
            Kinds << kind;
            return Answer;
        };
    }
    ~TFixture() { DialogHooks() = TDialogHooks(); }

    void Fill(TMessageList &list, int count, TMessageStatus status = msPending) {
        for (int i = 1; i <= count; ++i)
            list.Add(MakeMessage(i, status));
    }

    // Selects rows given by list index, replacing the selection.
    static void Select(TfrmMessage *view, const QList<int> &rows) {
        QItemSelection selection;
        for (int row : rows)
            selection.select(view->Model()->index(row, 0),
                             view->Model()->index(row, TMessageListModel::ColumnCount - 1));
        view->Treeview()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }

    static QStringList Texts(const TMessageList &list) {
        QStringList texts;
        for (int i = 0; i < list.Count(); ++i)
            texts << list.Get(i).Text;
        return texts;
    }

    static QString Cell(TfrmMessage *view, int row, int column) {
        return view->Model()->index(row, column).data().toString();
    }

    QTemporaryDir Dir;
    std::unique_ptr<TDataModule1> Data;
    std::unique_ptr<TViewTestHost> Host;
    TfrmMessage *Outbox = nullptr;
    TfrmMessage *Sent = nullptr;
    QStringList Questions;
    QList<TMsgKind> Kinds;
    QMessageBox::StandardButton Answer = QMessageBox::Yes;
};

} // namespace

class TestUiMessages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void modelPassesTester();
    void layoutOfTheView();
    void columnsShowTheMessage();
    void dateCells_data();
    void dateCells();
    void statusImages();
    void rowsAreReadWhenDrawn();
    void rowsPastTheListEndAreEmpty();
    void previewShowsWholeText();
    void previewKeepsTextOnRangeChange();
    void actionsFollowSelection();
    void deleteRows_data();
    void deleteRows();
    void deleteAnsweredNoKeepsAll();
    void deleteKeyNeedsSelection();
    void resendTwoSentMessages();
    void resendInOutboxDuplicates();
    void forwardUsesFirstSelectedRow();
    void selectAllSelectsEveryRow();
    void headerClickKeepsOrder();
    void copyPutsRowsOnClipboard();
    void addMessageAddsOneRow();
};

void TestUiMessages::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiMessages::init() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiMessages::modelPassesTester() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 10);
    TMessageListModel model(*f.Data->OutboxList);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 10);
    QCOMPARE(model.columnCount(), 5);
    f.Data->OutboxList->Add(MakeMessage(11));
    model.SyncRowCount();
    QCOMPARE(model.rowCount(), 11);
    f.Data->OutboxList->DeleteMany({9, 10});
    model.SyncRowCount();
    QCOMPARE(model.rowCount(), 9);
    f.Data->OutboxList->DeleteMany({0, 4});
    model.Reset();
    QCOMPARE(model.rowCount(), 7);
    QCOMPARE(model.index(0, TMessageListModel::colMessage).data().toString(),
             QStringLiteral("message 2"));
    f.Data->OutboxList->Clear();
    model.SyncRowCount();
    QCOMPARE(model.rowCount(), 0);
}

void TestUiMessages::layoutOfTheView() {
    TFixture f;
    QCOMPARE(f.Outbox->Label1->text(), QStringLiteral("Outbox"));
    QCOMPARE(f.Sent->Label1->text(), QStringLiteral("Sent"));
    QTreeView *tree = f.Outbox->Treeview();
    QCOMPARE(tree->objectName(), QStringLiteral("Treeview"));
    QVERIFY(tree->uniformRowHeights());
    QCOMPARE(tree->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(tree->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!tree->isSortingEnabled());
    QHeaderView *header = tree->header();
    const QStringList captions = {QString(), QStringLiteral("To"), QStringLiteral("Message"),
                                  QStringLiteral("Date Created"), QStringLiteral("Date Sent")};
    const int widths[] = {24, 90, 350, 145, 145};
    for (int column = 0; column < 5; ++column) {
        QCOMPARE(f.Outbox->Model()->headerData(column, Qt::Horizontal).toString(),
                 captions[column]);
        QCOMPARE(header->sectionSize(column), widths[column]);
    }
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Fixed);
    QVERIFY(header->sectionsMovable());
    QVERIFY(!header->isFirstSectionMovable());
    QVERIFY(f.Outbox->memContent->isReadOnly());
    QCOMPARE(f.Outbox->findChild<QWidget *>(QStringLiteral("TitleStrip"))->height(), 33);
    const QStringList menu = [&] {
        QStringList texts;
        for (QAction *action : f.Outbox->PopupMenu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return texts;
    }();
    QCOMPARE(menu,
             (QStringList{QStringLiteral("Forward"), QStringLiteral("Resend"), QStringLiteral("-"),
                          QStringLiteral("Delete"), QStringLiteral("Select All")}));
}

void TestUiMessages::columnsShowTheMessage() {
    TFixture f;
    TMessage message = MakeMessage(1);
    message.Number = "0171-555";
    message.Text = QStringLiteral("first line\r\nsecond line\nthird");
    f.Outbox->AddMessage(message);
    QCOMPARE(TFixture::Cell(f.Outbox, 0, TMessageListModel::colTo), QStringLiteral("0171-555"));
    QCOMPARE(TFixture::Cell(f.Outbox, 0, TMessageListModel::colMessage),
             QStringLiteral("first line second line third"));
    QCOMPARE(TFixture::Cell(f.Outbox, 0, TMessageListModel::colStatus), QString());
}

void TestUiMessages::dateCells_data() {
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("shown");
    QTest::newRow("afternoon") << QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))
                               << QStringLiteral("3/5/24 2:07:09 PM");
    QTest::newRow("midnight leaves the time out")
        << QDateTime(QDate(2024, 3, 5), QTime(0, 0)) << QStringLiteral("3/5/24");
    QTest::newRow("one second after midnight")
        << QDateTime(QDate(2024, 3, 5), QTime(0, 0, 1)) << QStringLiteral("3/5/24 12:00:01 AM");
    QTest::newRow("not set") << QDateTime() << QStringLiteral("-");
}

void TestUiMessages::dateCells() {
    QFETCH(QDateTime, when);
    QFETCH(QString, shown);
    TFixture f;
    TMessage message = MakeMessage(1, msSent);
    message.Sent = when.isValid() ? DateTimeToOle(when) : 0.0;
    f.Sent->AddMessage(message);
    QCOMPARE(TFixture::Cell(f.Sent, 0, TMessageListModel::colSent), shown);
    QCOMPARE(TFixture::Cell(f.Sent, 0, TMessageListModel::colCreated),
             QStringLiteral("3/5/24 2:07:09 PM"));
}

void TestUiMessages::statusImages() {
    TFixture f;
    for (int status : {0, 1, 2, 7}) {
        TMessage message = MakeMessage(status);
        message.Status = static_cast<TMessageStatus>(status);
        f.Outbox->AddMessage(message);
    }
    auto image = [&](int row) {
        return f.Outbox->Model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    };
    const QList<QIcon> icons = {image(0), image(1), image(2)};
    for (const QIcon &icon : icons)
        QVERIFY(!icon.isNull());
    QVERIFY(icons[0].cacheKey() != icons[1].cacheKey());
    QVERIFY(icons[1].cacheKey() != icons[2].cacheKey());
    QVERIFY(image(3).isNull());
    // Only the first column shows the picture.
    QVERIFY(f.Outbox->Model()->index(0, 1).data(Qt::DecorationRole).isNull());
}

void TestUiMessages::rowsAreReadWhenDrawn() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 3);
    f.Outbox->RefreshList();
    QCOMPARE(TFixture::Cell(f.Outbox, 1, TMessageListModel::colMessage),
             QStringLiteral("message 2"));
    TMessage changed = f.Data->OutboxList->Get(1);
    changed.Text = QStringLiteral("changed meanwhile");
    changed.Status = msSent;
    f.Data->OutboxList->Put(1, changed);
    // No refresh: the cell reads the list afresh.
    QCOMPARE(TFixture::Cell(f.Outbox, 1, TMessageListModel::colMessage),
             QStringLiteral("changed meanwhile"));
}

void TestUiMessages::rowsPastTheListEndAreEmpty() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 3);
    f.Outbox->RefreshList();
    f.Data->OutboxList->Clear();
    QCOMPARE(f.Outbox->Model()->rowCount(), 3);
    QCOMPARE(TFixture::Cell(f.Outbox, 2, TMessageListModel::colTo), QString());
    f.Outbox->Treeview()->viewport()->repaint();
    f.Outbox->RefreshList();
    QCOMPARE(f.Outbox->Model()->rowCount(), 0);
}

void TestUiMessages::previewShowsWholeText() {
    TFixture f;
    TMessage message = MakeMessage(1);
    message.Text = QStringLiteral("Line one\r\nLine two");
    f.Outbox->AddMessage(message);
    TFixture::Select(f.Outbox, {0});
    QCOMPARE(f.Outbox->memContent->toPlainText(), QStringLiteral("Line one\nLine two"));
    QCOMPARE(f.Outbox->memContent->document()->blockCount(), 2);
}

void TestUiMessages::previewKeepsTextOnRangeChange() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 5);
    f.Outbox->RefreshList();
    TFixture::Select(f.Outbox, {2});
    QCOMPARE(f.Outbox->memContent->toPlainText(), QStringLiteral("message 3"));
    f.Outbox->actSelectAll->trigger();
    QCOMPARE(f.Outbox->memContent->toPlainText(), QStringLiteral("message 3"));
    // A click on one row names it.
    QTreeView *tree = f.Outbox->Treeview();
    const QRect rect = tree->visualRect(f.Outbox->Model()->index(4, 2));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QCOMPARE(f.Outbox->SelectedRows(), QList<int>{4});
    QCOMPARE(f.Outbox->memContent->toPlainText(), QStringLiteral("message 5"));
}

void TestUiMessages::actionsFollowSelection() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 3);
    f.Outbox->RefreshList();
    auto states = [&] {
        return QList<bool>{f.Outbox->actForward->isEnabled(), f.Outbox->actResend->isEnabled(),
                           f.Outbox->actDelete->isEnabled(), f.Outbox->actSelectAll->isEnabled()};
    };
    QCOMPARE(states(), (QList<bool>{false, false, false, true}));
    TFixture::Select(f.Outbox, {1});
    QCOMPARE(states(), (QList<bool>{true, true, true, true}));
    f.Outbox->Treeview()->clearSelection();
    QCOMPARE(states(), (QList<bool>{false, false, false, true}));
    // The idle update computes the same.
    f.Outbox->actDelete->setEnabled(true);
    f.Outbox->UpdateActions();
    QCOMPARE(states(), (QList<bool>{false, false, false, true}));
}

void TestUiMessages::deleteRows_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QList<int>>("remaining");
    QTest::addColumn<int>("current");
    QTest::newRow("rows 2 to 4 of 10")
        << 10 << QList<int>{1, 2, 3} << QList<int>{1, 5, 6, 7, 8, 9, 10} << 1;
    QTest::newRow("last three of 10")
        << 10 << QList<int>{7, 8, 9} << QList<int>{1, 2, 3, 4, 5, 6, 7} << 6;
    QTest::newRow("scattered rows") << 6 << QList<int>{4, 0, 2} << QList<int>{2, 4, 6} << 0;
    QTest::newRow("all rows") << 4 << QList<int>{0, 1, 2, 3} << QList<int>{} << -1;
}

void TestUiMessages::deleteRows() {
    QFETCH(int, count);
    QFETCH(QList<int>, selected);
    QFETCH(QList<int>, remaining);
    QFETCH(int, current);
    TFixture f;
    f.Fill(*f.Data->OutboxList, count);
    f.Outbox->RefreshList();
    TFixture::Select(f.Outbox, selected);
    f.Outbox->memContent->setPlainText(QStringLiteral("shown before"));
    const int refreshes = f.Host->Refreshes;
    f.Data->Modified = false;
    f.Outbox->actDelete->trigger();

    QCOMPARE(f.Questions,
             QStringList{QStringLiteral("Are you sure do delete the selected message(s) ?")});
    QCOMPARE(f.Kinds, QList<TMsgKind>{TMsgKind::Confirm});
    QStringList expected;
    for (int number : remaining)
        expected << QStringLiteral("message %1").arg(number);
    QCOMPARE(TFixture::Texts(*f.Data->OutboxList), expected);
    QCOMPARE(f.Outbox->Model()->rowCount(), remaining.size());
    if (current < 0) {
        QVERIFY(f.Outbox->SelectedRows().isEmpty());
    } else {
        QCOMPARE(f.Outbox->SelectedRows(), QList<int>{current});
        QCOMPARE(f.Outbox->Treeview()->currentIndex().row(), current);
    }
    QCOMPARE(f.Outbox->memContent->toPlainText(), QString());
    QVERIFY(f.Host->Refreshes > refreshes);
    QVERIFY(f.Data->Modified);
}

void TestUiMessages::deleteAnsweredNoKeepsAll() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 4);
    f.Outbox->RefreshList();
    TFixture::Select(f.Outbox, {0, 1});
    f.Answer = QMessageBox::No;
    f.Outbox->actDelete->trigger();
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Data->OutboxList->Count(), 4);
    QCOMPARE(f.Outbox->SelectedRows(), (QList<int>{0, 1}));
}

void TestUiMessages::deleteKeyNeedsSelection() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 4);
    f.Outbox->RefreshList();
    QTreeView *tree = f.Outbox->Treeview();
    tree->selectionModel()->setCurrentIndex(f.Outbox->Model()->index(2, 0),
                                            QItemSelectionModel::NoUpdate);
    QVERIFY(f.Outbox->SelectedRows().isEmpty());
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(f.Questions.isEmpty());
    QCOMPARE(f.Data->OutboxList->Count(), 4);
    // With Ctrl the key does nothing either; selected and plain, it deletes.
    TFixture::Select(f.Outbox, {2});
    QTest::keyClick(tree, Qt::Key_Delete, Qt::ControlModifier);
    QVERIFY(f.Questions.isEmpty());
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Data->OutboxList->Count(), 3);
}

void TestUiMessages::resendTwoSentMessages() {
    TFixture f;
    f.Fill(*f.Data->SentList, 3, msSent);
    for (int i = 0; i < 3; ++i) {
        TMessage sent = f.Data->SentList->Get(i);
        sent.Sent = sent.Created + 0.01;
        sent.Flash = 1;
        f.Data->SentList->Put(i, sent);
    }
    f.Sent->RefreshList();
    TFixture::Select(f.Sent, {0, 2});
    const double before = OleNow();
    f.Sent->actResend->trigger();

    QCOMPARE(f.Data->SentList->Count(), 3);
    QCOMPARE(f.Data->OutboxList->Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const TMessage copy = f.Data->OutboxList->Get(i);
        const TMessage original = f.Data->SentList->Get(i * 2);
        QCOMPARE(copy.Status, msPending);
        QCOMPARE(copy.Sent, 0.0);
        QVERIFY(copy.Created >= before - 1e-6);
        QCOMPARE(copy.Number, original.Number);
        QCOMPARE(copy.Text, original.Text);
        QCOMPARE(copy.Flash, quint8(1));
    }
    QCOMPARE(f.Outbox->Model()->rowCount(), 2);
    QCOMPARE(f.Host->LastShown(), static_cast<QWidget *>(f.Outbox));
}

void TestUiMessages::resendInOutboxDuplicates() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 3);
    f.Outbox->RefreshList();
    TFixture::Select(f.Outbox, {1, 2});
    f.Outbox->actResend->trigger();
    QCOMPARE(TFixture::Texts(*f.Data->OutboxList),
             (QStringList{QStringLiteral("message 1"), QStringLiteral("message 2"),
                          QStringLiteral("message 3"), QStringLiteral("message 2"),
                          QStringLiteral("message 3")}));
    // Nothing selected: nothing added, no view switch.
    f.Host->Shown.clear();
    f.Outbox->Treeview()->clearSelection();
    f.Outbox->actResend->setEnabled(true);
    f.Outbox->actResend->trigger();
    QCOMPARE(f.Data->OutboxList->Count(), 5);
    QVERIFY(f.Host->Shown.isEmpty());
}

void TestUiMessages::forwardUsesFirstSelectedRow() {
    TFixture f;
    f.Fill(*f.Data->SentList, 5, msSent);
    f.Sent->RefreshList();
    f.Host->ComposeView()->SetRecipients("kept");
    TFixture::Select(f.Sent, {3, 1, 4});
    f.Sent->actForward->trigger();
    QCOMPARE(f.Host->ComposeView()->BodyText(), QStringLiteral("message 2"));
    QCOMPARE(f.Host->ComposeView()->ComboBox1->currentText(), QStringLiteral("kept"));
    QCOMPARE(f.Host->LastShown(), static_cast<QWidget *>(f.Host->ComposeView()));
}

void TestUiMessages::selectAllSelectsEveryRow() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 7);
    f.Outbox->RefreshList();
    f.Outbox->actSelectAll->trigger();
    QCOMPARE(f.Outbox->SelectedRows(), (QList<int>{0, 1, 2, 3, 4, 5, 6}));
}

void TestUiMessages::headerClickKeepsOrder() {
    TFixture f;
    for (int i = 1; i <= 3; ++i) {
        TMessage message = MakeMessage(i, msSent);
        message.Sent = DateTimeToOle(QDateTime(QDate(2024, 1, 10 - i), QTime(12, 0)));
        f.Data->SentList->Add(message);
    }
    f.Sent->RefreshList();
    f.Sent->show();
    QHeaderView *header = f.Sent->Treeview()->header();
    const int x = header->sectionViewportPosition(TMessageListModel::colSent) + 20;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(x, header->height() / 2));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(x, header->height() / 2));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(TFixture::Cell(f.Sent, row, TMessageListModel::colMessage),
                 QStringLiteral("message %1").arg(row + 1));
    QVERIFY(!f.Sent->Treeview()->isSortingEnabled());
}

void TestUiMessages::copyPutsRowsOnClipboard() {
    TFixture f;
    f.Fill(*f.Data->OutboxList, 3);
    f.Outbox->RefreshList();
    TFixture::Select(f.Outbox, {0, 2});
    QApplication::clipboard()->clear();
    QTest::keyClick(f.Outbox->Treeview(), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(QStringLiteral("+491701001\tmessage 1\t")));
    QVERIFY(lines[1].startsWith(QStringLiteral("+491701003\tmessage 3\t")));
    // Cut copies and leaves the list alone.
    QApplication::clipboard()->clear();
    QTest::keyClick(f.Outbox->Treeview(), Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text().split(QLatin1Char('\n')).size(), 2);
    QCOMPARE(f.Data->OutboxList->Count(), 3);
}

void TestUiMessages::addMessageAddsOneRow() {
    TFixture f;
    f.Data->Modified = false;
    QCOMPARE(f.Outbox->AddMessage(MakeMessage(1)), 0);
    QCOMPARE(f.Outbox->AddMessage(MakeMessage(2)), 1);
    QCOMPARE(f.Outbox->Model()->rowCount(), 2);
    QCOMPARE(f.Sent->Model()->rowCount(), 0);
    QVERIFY(f.Data->Modified);
}

QTEST_MAIN(TestUiMessages)
#include "tst_ui_messages.moc"
