#include "app/Database.h"
#include "support/DialogScript.h"
#include "support/TestViewHost.h"
#include "ui/ContactForm.h"
#include "ui/ContactModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

TContact Contact(const QString &name, const QByteArray &number, int sentCount = 0,
                 bool checked = false) {
    return TContact{name, number, sentCount, quint8(checked ? 1 : 0)};
}

// A data module with count contacts "Name i" / "555000i", every other one checked, and a
// contacts view on it, shown; the project starts unmodified.
struct TFixture {
    explicit TFixture(int count) {
        for (int i = 0; i < count; ++i)
            Data.ContactList->Add(Contact(QStringLiteral("Name %1").arg(i),
                                          "555000" + QByteArray::number(i), i, i % 2 == 0));
        Data.Modified = false;
        View = std::make_unique<TfrmContact>(Data, Host);
        Host.Contacts = View.get();
        View->resize(640, 480);
        View->show();
        View->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(View.get()));
        Tester = std::make_unique<QAbstractItemModelTester>(
            View->Model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    QString Cell(int row, int column) const {
        return View->Model->index(row, column).data().toString();
    }
    QRect CellRect(int row, int column) const {
        return View->Treeview->visualRect(View->Model->index(row, column));
    }
    void Click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QTest::mouseClick(View->Treeview->viewport(), Qt::LeftButton, modifiers,
                          CellRect(row, TContactModel::colName).center());
    }
    void SelectRows(const QList<int> &rows) const {
        for (int i = 0; i < rows.size(); ++i)
            Click(rows[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    }
    int Checked() const { return View->lblChecked->text().toInt(); }
    int Total() const { return View->lblTotal->text().toInt(); }

    QTemporaryDir SettingsDir;
    TDataModule1 Data{SettingsDir.filePath(QStringLiteral("pelorvane.ini"))};
    TTestViewHost Host;
    std::unique_ptr<TfrmContact> View;
    std::unique_ptr<QAbstractItemModelTester> Tester;
};

} // namespace

class TestUiContacts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void placeholdersAndColumns();
    void checkBoxShowsStoredFlag();
    void modelRowsFollowRefreshOnly();
    void composeSelectedInListOrder();
    void composeByDoubleClick();
    void newOnFive();
    void insertKeyNeedsFocusedRow();
    void checkActionDoesNotModify_data();
    void checkActionDoesNotModify();
    void checkBoxClickPutsAndCountsAtOnce();
    void editAvailability_data();
    void editAvailability();
    void editOkStoresFreshRead();
    void editCancelAndKeys();
    void downInNameFieldDropsEdit();
    void deleteAsksAndReselects_data();
    void deleteAsksAndReselects();
    void deleteKeyAndNoAnswer();
    void selectAllThenCompose();
    void importSummary();
    void importMalformedLineShowsErrorAndRows();
    void importCancelled();
    void exportWritesFile();
    void exportFailureShowsError();
    void copyLeavesListAlone();
    void contextMenuOrder();
};

void TestUiContacts::placeholdersAndColumns() {
    TFixture f(5);
    f.Data.ContactList->Put(2, Contact(QString(), QByteArray(), 7, true));
    f.View->RefreshList();
    QCOMPARE(f.Cell(2, TContactModel::colName), QStringLiteral("<Contact #3>"));
    QCOMPARE(f.Cell(2, TContactModel::colNumber), QStringLiteral("<Phone #3>"));
    QCOMPARE(f.Cell(2, TContactModel::colSentCount), QStringLiteral("7"));
    QCOMPARE(f.Cell(1, TContactModel::colName), QStringLiteral("Name 1"));
    QCOMPARE(f.Cell(1, TContactModel::colNumber), QStringLiteral("5550001"));
    // Only the name is empty in row 4: the number is shown as stored.
    f.Data.ContactList->Put(3, Contact(QString(), "123"));
    QCOMPARE(f.Cell(3, TContactModel::colName), QStringLiteral("<Contact #4>"));
    QCOMPARE(f.Cell(3, TContactModel::colNumber), QStringLiteral("123"));
    QCOMPARE(f.View->Model->headerData(TContactModel::colName, Qt::Horizontal).toString(),
             QStringLiteral("Name"));
    QCOMPARE(f.View->Model->headerData(TContactModel::colSentCount, Qt::Horizontal).toString(),
             QStringLiteral("Sent Count"));
    QCOMPARE(f.View->Treeview->header()->sectionResizeMode(TContactModel::colCheck),
             QHeaderView::Fixed);
}

void TestUiContacts::checkBoxShowsStoredFlag() {
    TFixture f(3);
    const auto state = [&](int row) {
        return f.View->Model->index(row, TContactModel::colCheck).data(Qt::CheckStateRole);
    };
    QCOMPARE(state(0).toInt(), int(Qt::Checked));
    QCOMPARE(state(1).toInt(), int(Qt::Unchecked));
    // A flag changed behind the view's back shows at the next draw.
    TContact c = f.Data.ContactList->Get(1);
    c.Checked = 1;
    f.Data.ContactList->Put(1, c);
    QCOMPARE(state(1).toInt(), int(Qt::Checked));
    const QIcon checkedIcon =
        f.View->Model->index(1, TContactModel::colName).data(Qt::DecorationRole).value<QIcon>();
    QVERIFY(!checkedIcon.isNull());
}

void TestUiContacts::modelRowsFollowRefreshOnly() {
    TFixture f(4);
    QCOMPARE(f.View->Model->rowCount(), 4);
    f.Data.ContactList->Delete(3);
    f.Data.ContactList->Delete(2);
    // Until the refresh the rows stay; the ones past the list's end show nothing.
    QCOMPARE(f.View->Model->rowCount(), 4);
    QVERIFY(!f.View->Model->index(3, TContactModel::colName).data().isValid());
    f.View->RefreshList();
    QCOMPARE(f.View->Model->rowCount(), 2);
    QCOMPARE(f.Total(), 2);
    for (int i = 0; i < 3; ++i)
        f.Data.ContactList->Add(Contact(QStringLiteral("n"), "1"));
    f.View->RefreshList();
    QCOMPARE(f.View->Model->rowCount(), 5);
}

void TestUiContacts::composeSelectedInListOrder() {
    TFixture f(6);
    f.Data.ContactList->Put(1, Contact(QStringLiteral("a"), "A"));
    f.Data.ContactList->Put(3, Contact(QStringLiteral("b"), "B"));
    f.Data.ContactList->Put(4, Contact(QStringLiteral("c"), "C"));
    f.Data.Modified = false;
    // Selected out of order: the text follows the list.
    f.SelectRows({4, 1, 3});
    QCOMPARE(f.View->SelectedCount(), 3);
    f.View->actCompose->trigger();
    QCOMPARE(f.Host.ComposedTo, QList<QByteArray>{"A;B;C;"});

    // A contact without a number contributes the separator alone.
    f.Data.ContactList->Put(3, Contact(QStringLiteral("b"), QByteArray()));
    f.Data.Modified = false;
    f.View->actCompose->trigger();
    QCOMPARE(f.Host.ComposedTo.last(), QByteArray("A;;C;"));
    QVERIFY(!f.Data.Modified);
}

void TestUiContacts::composeByDoubleClick() {
    TFixture f(3);
    const QPoint at = f.CellRect(2, TContactModel::colNumber).center();
    QTest::mouseClick(f.View->Treeview->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(f.View->Treeview->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(f.Host.ComposedTo, QList<QByteArray>{"5550002;"});
}

void TestUiContacts::newOnFive() {
    TFixture f(5);
    f.SelectRows({0, 2});
    const int checkedBefore = f.Checked();
    const int refreshes = f.Host.RefreshAllCount;
    f.View->actNew->trigger();

    QCOMPARE(f.Data.ContactList->Count(), 6);
    QCOMPARE(f.Data.ContactList->Get(5), (TContact{QString(), QByteArray(), 0, 1}));
    QCOMPARE(f.Cell(5, TContactModel::colName), QStringLiteral("<Contact #6>"));
    QCOMPARE(f.Cell(5, TContactModel::colNumber), QStringLiteral("<Phone #6>"));
    QCOMPARE(f.View->SelectedRows(), QList<int>{5});
    QCOMPARE(f.View->EditIndex(), 5);
    QCOMPARE(f.View->edtName->text(), QString());
    QCOMPARE(f.Total(), 6);
    QCOMPARE(f.Checked(), checkedBefore + 1);
    QVERIFY(f.Data.Modified);
    QCOMPARE(f.Host.RefreshAllCount, refreshes + 1);
}

void TestUiContacts::insertKeyNeedsFocusedRow() {
    TFixture f(0);
    f.View->Treeview->setFocus();
    QTest::keyClick(f.View->Treeview, Qt::Key_Insert);
    QCOMPARE(f.Data.ContactList->Count(), 0);
    // Ctrl+N works without a focused row.
    QTest::keyClick(f.View->Treeview, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(f.Data.ContactList->Count(), 1);
    QVERIFY(f.View->Treeview->currentIndex().isValid());
    QTest::keyClick(f.View->Treeview, Qt::Key_Insert);
    QCOMPARE(f.Data.ContactList->Count(), 2);
    QTest::keyClick(f.View->Treeview, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(f.Data.ContactList->Count(), 2);
}

void TestUiContacts::checkActionDoesNotModify_data() {
    QTest::addColumn<bool>("check");
    QTest::newRow("Check") << true;
    QTest::newRow("Uncheck") << false;
}

void TestUiContacts::checkActionDoesNotModify() {
    QFETCH(bool, check);
    TFixture f(8); // rows 0, 2, 4, 6 checked
    const QList<int> rows{1, 2, 5, 6};
    f.SelectRows(rows);
    const int refreshes = f.Host.RefreshAllCount;
    (check ? f.View->actCheck : f.View->actUncheck)->trigger();

    for (int row = 0; row < 8; ++row) {
        const bool expected = rows.contains(row) ? check : row % 2 == 0;
        QCOMPARE(f.Data.ContactList->Get(row).Checked, quint8(expected));
        QCOMPARE(
            f.View->Model->index(row, TContactModel::colCheck).data(Qt::CheckStateRole).toInt(),
            int(expected ? Qt::Checked : Qt::Unchecked));
    }
    QCOMPARE(f.Checked(), check ? 6 : 2);
    // Nothing to save: the close question would not be asked.
    QVERIFY(!f.Data.Modified);
    QCOMPARE(f.Host.RefreshAllCount, refreshes + 1);
    QCOMPARE(f.View->SelectedRows(), rows);
}

void TestUiContacts::checkBoxClickPutsAndCountsAtOnce() {
    TFixture f(4); // rows 0 and 2 checked
    QCOMPARE(f.Checked(), 2);
    const int refreshes = f.Host.RefreshAllCount;
    QTest::mouseClick(f.View->Treeview->viewport(), Qt::LeftButton, {},
                      f.CellRect(1, TContactModel::colCheck).center());
    QCOMPARE(f.Data.ContactList->Get(1).Checked, quint8(1));
    QCOMPARE(f.Checked(), 3);
    QVERIFY(f.Data.Modified);
    // The main window learns of it at its next refresh only.
    QCOMPARE(f.Host.RefreshAllCount, refreshes);

    QTest::mouseClick(f.View->Treeview->viewport(), Qt::LeftButton, {},
                      f.CellRect(0, TContactModel::colCheck).center());
    QCOMPARE(f.Data.ContactList->Get(0).Checked, quint8(0));
    QCOMPARE(f.Checked(), 2);
    // A click elsewhere in the row leaves the flag.
    f.Click(3);
    QCOMPARE(f.Data.ContactList->Get(3).Checked, quint8(0));
}

void TestUiContacts::editAvailability_data() {
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<bool>("selectionActions");
    QTest::newRow("none selected") << QList<int>{} << false << false;
    QTest::newRow("one selected") << QList<int>{2} << true << true;
    QTest::newRow("two selected") << QList<int>{1, 3} << false << true;
}

void TestUiContacts::editAvailability() {
    QFETCH(QList<int>, rows);
    QFETCH(bool, edit);
    QFETCH(bool, selectionActions);
    TFixture f(5);
    f.SelectRows(rows);
    QCOMPARE(f.View->actEdit->isEnabled(), edit);
    QCOMPARE(f.View->btnEdit->isEnabled(), edit);
    QCOMPARE(f.View->actCompose->isEnabled(), selectionActions);
    QCOMPARE(f.View->actDelete->isEnabled(), selectionActions);
    QCOMPARE(f.View->actCheck->isEnabled(), selectionActions);
    QCOMPARE(f.View->actUncheck->isEnabled(), selectionActions);
    QVERIFY(f.View->actNew->isEnabled());
    QVERIFY(f.View->actSelectAll->isEnabled());
    QVERIFY(!f.View->actEditCancel->isEnabled());
    // Edit triggered anyway (a shortcut, a stale menu) changes nothing when not allowed.
    f.View->actEdit->setEnabled(true);
    f.View->actEdit->trigger();
    QCOMPARE(f.View->IsEditing(), edit);
}

void TestUiContacts::editOkStoresFreshRead() {
    TFixture f(3);
    f.Click(1);
    QCOMPARE(f.View->edtName->text(), QStringLiteral("Name 1"));
    QVERIFY(f.View->edtName->isReadOnly());
    f.View->btnEdit->click();
    QVERIFY(f.View->IsEditing());
    QVERIFY(!f.View->edtName->isReadOnly());
    QCOMPARE(f.View->btnEdit->text(), QStringLiteral("&OK"));
    QVERIFY(f.View->btnCancel->isEnabled());
    QVERIFY(f.View->edtName->hasFocus());
    // The sender counts a message while the edit is open.
    f.Data.ContactList->IncSentCount("5550001");
    f.View->edtName->setText(QStringLiteral("Zoë"));
    f.View->edtNumber->setText(QString());
    f.View->btnEdit->click();

    QCOMPARE(f.Data.ContactList->Get(1), (TContact{QStringLiteral("Zoë"), QByteArray(), 2, 0}));
    QCOMPARE(f.View->CurrentContact(), f.Data.ContactList->Get(1));
    QVERIFY(f.Data.Modified);
    QVERIFY(!f.View->IsEditing());
    QVERIFY(f.View->edtNumber->isReadOnly());
    QCOMPARE(f.View->btnEdit->text(), QStringLiteral("&Edit"));
    QVERIFY(!f.View->btnCancel->isEnabled());
    QVERIFY(f.View->Treeview->hasFocus());
    QCOMPARE(f.Cell(1, TContactModel::colNumber), QStringLiteral("<Phone #2>"));
}

void TestUiContacts::editCancelAndKeys() {
    TFixture f(3);
    f.Click(2);
    // Enter is the default button: Edit, then OK.
    QTest::keyClick(f.View->Treeview, Qt::Key_Return);
    QVERIFY(f.View->IsEditing());
    f.View->edtName->setText(QStringLiteral("changed"));
    // Escape is the cancel button: the fields show the stored contact again.
    QTest::keyClick(f.View->edtName, Qt::Key_Escape);
    QVERIFY(!f.View->IsEditing());
    QCOMPARE(f.View->edtName->text(), QStringLiteral("Name 2"));
    QVERIFY(!f.Data.Modified);

    f.View->actEdit->trigger();
    QTest::keyClicks(f.View->edtNumber, QStringLiteral("9"));
    QTest::keyClick(f.View->edtNumber, Qt::Key_Return);
    QVERIFY(!f.View->IsEditing());
    QCOMPARE(f.Data.ContactList->Get(2).Number, QByteArray("55500029"));
    QVERIFY(f.Data.Modified);
}

void TestUiContacts::downInNameFieldDropsEdit() {
    TFixture f(4);
    f.Click(1);
    f.View->actEdit->trigger();
    f.View->edtName->setText(QStringLiteral("dropped"));
    QTest::keyClick(f.View->edtName, Qt::Key_Down);
    QCOMPARE(f.View->EditIndex(), 2);
    QCOMPARE(f.View->SelectedRows(), QList<int>{2});
    QVERIFY(!f.View->IsEditing());
    QCOMPARE(f.View->edtName->text(), QStringLiteral("Name 2"));
    QCOMPARE(f.Data.ContactList->Get(1).Name, QStringLiteral("Name 1"));
    QVERIFY(!f.Data.Modified);
    // With a modifier the key stays in the field; Up goes back to the previous contact.
    f.View->edtName->setFocus();
    QTest::keyClick(f.View->edtName, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(f.View->EditIndex(), 2);
    QTest::keyClick(f.View->edtNumber, Qt::Key_Up);
    QCOMPARE(f.View->EditIndex(), 1);
}

void TestUiContacts::deleteAsksAndReselects_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<int>("selectedAfter");
    QTest::newRow("rows 2 to 4 of 10") << 10 << QList<int>{2, 3, 4} << 2;
    QTest::newRow("scattered") << 10 << QList<int>{7, 1, 5} << 1;
    QTest::newRow("the last two") << 10 << QList<int>{8, 9} << 7;
    QTest::newRow("all") << 3 << QList<int>{0, 1, 2} << -1;
}

void TestUiContacts::deleteAsksAndReselects() {
    QFETCH(int, count);
    QFETCH(QList<int>, rows);
    QFETCH(int, selectedAfter);
    TFixture f(count);
    f.SelectRows(rows);
    TDialogScript dialogs;
    dialogs.Answers = {QMessageBox::Yes};
    f.View->actDelete->trigger();

    QCOMPARE(dialogs.Messages.size(), 1);
    QCOMPARE(dialogs.Messages[0].Text,
             QStringLiteral("Are you sure do delete the selected contact(s) ?"));
    QCOMPARE(dialogs.Messages[0].Kind, TMsgKind::Confirm);
    QCOMPARE(dialogs.Messages[0].Buttons, QMessageBox::Yes | QMessageBox::No);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        if (!rows.contains(i))
            names << QStringLiteral("Name %1").arg(i);
    }
    QStringList left;
    for (int i = 0; i < f.Data.ContactList->Count(); ++i)
        left << f.Data.ContactList->Get(i).Name;
    QCOMPARE(left, names);
    QCOMPARE(f.View->Model->rowCount(), names.size());
    QCOMPARE(f.Total(), names.size());
    QVERIFY(f.Data.Modified);
    if (selectedAfter >= 0) {
        QCOMPARE(f.View->SelectedRows(), QList<int>{selectedAfter});
        QCOMPARE(f.View->EditIndex(), selectedAfter);
        QCOMPARE(f.View->edtName->text(), names[selectedAfter]);
        QVERIFY(f.View->Treeview->hasFocus());
    } else {
        QCOMPARE(f.View->SelectedCount(), 0);
        QCOMPARE(f.View->edtName->text(), QString());
    }
}

void TestUiContacts::deleteKeyAndNoAnswer() {
    TFixture f(4);
    f.Click(1);
    TDialogScript dialogs;
    dialogs.Answers = {QMessageBox::No, QMessageBox::Yes};
    QTest::keyClick(f.View->Treeview, Qt::Key_Delete);
    QCOMPARE(dialogs.Messages.size(), 1);
    QCOMPARE(f.Data.ContactList->Count(), 4);
    QVERIFY(!f.Data.Modified);
    QTest::keyClick(f.View->Treeview, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(dialogs.Messages.size(), 1);
    QTest::keyClick(f.View->Treeview, Qt::Key_Delete);
    QCOMPARE(f.Data.ContactList->Count(), 3);
    QCOMPARE(f.Data.ContactList->Get(1).Name, QStringLiteral("Name 2"));
    // Nothing selected: no question at all.
    f.View->Treeview->clearSelection();
    f.View->actDelete->setEnabled(true);
    f.View->actDelete->trigger();
    QCOMPARE(dialogs.Messages.size(), 2);
}

void TestUiContacts::selectAllThenCompose() {
    TFixture f(4);
    f.View->actSelectAll->trigger();
    QCOMPARE(f.View->SelectedCount(), 4);
    QVERIFY(!f.View->actEdit->isEnabled());
    f.View->actCompose->trigger();
    QCOMPARE(f.Host.ComposedTo, QList<QByteArray>{"5550000;5550001;5550002;5550003;"});
}

void TestUiContacts::importSummary() {
    TFixture f(2);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("contacts.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 10; ++i)
        file.write("\"New " + QByteArray::number(i) + "\",\"777" + QByteArray::number(i) +
                   "\"\r\n");
    file.write("Old,5550001\r\n");  // already in the list
    file.write("Again,7773,4\r\n"); // earlier in this file
    file.close();
    const int checkedBefore = f.Checked();

    TDialogScript dialogs;
    dialogs.FileNames = {path};
    f.View->actImport->trigger();
    QCOMPARE(dialogs.SaveDialogs, QList<bool>{false});
    QCOMPARE(dialogs.Filters.first(),
             QStringLiteral("Text files (*.txt)|*.txt|Comma separated file (*.csv)|*.csv|All "
                            "files (*.*)|*.*"));
    QCOMPARE(dialogs.Messages.size(), 1);
    QCOMPARE(dialogs.Messages[0].Text,
             QStringLiteral("Imported 10 contacts, ignored 2 duplicates from\r\n") +
                 QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    QCOMPARE(dialogs.Messages[0].Kind, TMsgKind::Information);
    QCOMPARE(dialogs.Messages[0].Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(f.Total(), 12);
    QCOMPARE(f.Checked(), checkedBefore + 10);
    QCOMPARE(f.View->Model->rowCount(), 12);
    QCOMPARE(f.Cell(11, TContactModel::colName), QStringLiteral("New 9"));
    QVERIFY(f.Data.Modified);
}

void TestUiContacts::importMalformedLineShowsErrorAndRows() {
    TFixture f(1);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("A,1\nB,2\n\"C\" ,3\nD,4\n");
    file.close();
    TDialogScript dialogs;
    dialogs.FileNames = {path};
    f.View->actImport->trigger();
    QCOMPARE(dialogs.Messages.size(), 1);
    QCOMPARE(dialogs.Messages[0].Kind, TMsgKind::Error);
    QVERIFY2(dialogs.Messages[0].Text.startsWith(QStringLiteral("String is a badly formed CSV")),
             qPrintable(dialogs.Messages[0].Text));
    // The two contacts before the bad line are in the list and on show.
    QCOMPARE(f.Data.ContactList->Count(), 3);
    QCOMPARE(f.View->Model->rowCount(), 3);
    QCOMPARE(f.Total(), 3);

    // A file that cannot be read: the error, nothing added.
    dialogs.FileNames = {dir.filePath(QStringLiteral("missing.txt"))};
    f.View->actImport->trigger();
    QCOMPARE(dialogs.Messages.size(), 2);
    QCOMPARE(dialogs.Messages[1].Kind, TMsgKind::Error);
    QCOMPARE(f.Data.ContactList->Count(), 3);
}

void TestUiContacts::importCancelled() {
    TFixture f(1);
    TDialogScript dialogs;
    f.View->actImport->trigger();
    f.View->actExport->trigger();
    QCOMPARE(dialogs.Filters.size(), 2);
    QVERIFY(dialogs.Messages.isEmpty());
    QVERIFY(!f.Data.Modified);
}

void TestUiContacts::exportWritesFile() {
    TFixture f(2);
    QTemporaryDir dir;
    TDialogScript dialogs;
    // The default extension is added to a name without one.
    dialogs.FileNames = {dir.filePath(QStringLiteral("out"))};
    f.View->actExport->trigger();
    QCOMPARE(dialogs.SaveDialogs, QList<bool>{true});
    QCOMPARE(dialogs.Filters.first(),
             QStringLiteral("Text files (*.txt)|*.txt|All files (*.*)|*.*"));
    QFile file(dir.filePath(QStringLiteral("out.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("\"Name 0\",\"5550000\",0\r\n\"Name 1\",\"5550001\",1\r\n"));
    QVERIFY(dialogs.Messages.isEmpty());
    QVERIFY(!f.Data.Modified);
}

void TestUiContacts::exportFailureShowsError() {
    TFixture f(2);
    QTemporaryDir dir;
    TDialogScript dialogs;
    dialogs.FileNames = {dir.filePath(QStringLiteral("no/such/folder/out.txt"))};
    f.View->actExport->trigger();
    QCOMPARE(dialogs.Messages.size(), 1);
    QCOMPARE(dialogs.Messages[0].Kind, TMsgKind::Error);
    QVERIFY(!dialogs.Messages[0].Text.isEmpty());
}

void TestUiContacts::copyLeavesListAlone() {
    TFixture f(3);
    f.SelectRows({0, 2});
    QApplication::clipboard()->clear();
    QTest::keyClick(f.View->Treeview, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(f.Data.ContactList->Count(), 3);
    QVERIFY(!f.Data.Modified);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("Name 0\t5550000\t0\nName 2\t5550002\t2\n"));
    QTest::keyClick(f.View->Treeview, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.Data.ContactList->Count(), 3);
}

void TestUiContacts::contextMenuOrder() {
    TFixture f(1);
    QStringList texts;
    for (QAction *action : f.View->PopupMenu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(texts, (QStringList{"Compose", "-", "Check", "Uncheck", "Select All", "-", "New",
                                 "&Edit", "Delete"}));
}

QTEST_MAIN(TestUiContacts)
#include "tst_ui_contacts.moc"
