#include "app/AppData.h"
#include "support/DialogScript.h"
#include "support/TestViewHost.h"
#include "ui/ContactModel.h"
#include "ui/ContactsView.h"

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
#include <QToolBar>
#include <QTreeView>

#include <memory>

namespace {

Contact contact(const QString &name, const QByteArray &number, int sentCount = 0,
                bool checked = false) {
    return Contact{name, number, sentCount, quint8(checked ? 1 : 0)};
}

// A data module with count contacts "Name i" / "555000i", every other one checked, and a
// contacts view on it, shown; the project starts unmodified.
struct Fixture {
    explicit Fixture(int count) {
        for (int i = 0; i < count; ++i)
            data.contactList->add(contact(QStringLiteral("Name %1").arg(i),
                                          "555000" + QByteArray::number(i), i, i % 2 == 0));
        data.modified = false;
        view = std::make_unique<ContactsView>(data, host);
        host.contacts = view.get();
        view->resize(640, 480);
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        tester = std::make_unique<QAbstractItemModelTester>(
            view->model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    QString cell(int row, int column) const {
        return view->model->index(row, column).data().toString();
    }
    QRect cellRect(int row, int column) const {
        return view->listView->visualRect(view->model->index(row, column));
    }
    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QTest::mouseClick(view->listView->viewport(), Qt::LeftButton, modifiers,
                          cellRect(row, ContactModel::NameColumn).center());
    }
    void selectRows(const QList<int> &rows) const {
        for (int i = 0; i < rows.size(); ++i)
            click(rows[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    }
    int checked() const { return view->checkedLabel->text().toInt(); }
    int total() const { return view->totalLabel->text().toInt(); }

    QTemporaryDir settingsDir;
    AppData data{settingsDir.filePath(QStringLiteral("pelorvane.ini"))};
    TestViewHost host;
    std::unique_ptr<ContactsView> view;
    std::unique_ptr<QAbstractItemModelTester> tester;
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
    void panelClearedWhenListEmptied();
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
    void duplicatesFilter();
    void columnsFitAndSentCountShows();
};

void TestUiContacts::placeholdersAndColumns() {
    Fixture f(5);
    f.data.contactList->put(2, contact(QString(), QByteArray(), 7, true));
    f.view->refreshList();
    QCOMPARE(f.cell(2, ContactModel::NameColumn), QStringLiteral("<Contact #3>"));
    QCOMPARE(f.cell(2, ContactModel::NumberColumn), QStringLiteral("<Phone #3>"));
    QCOMPARE(f.cell(2, ContactModel::SentCountColumn), QStringLiteral("7"));
    QCOMPARE(f.cell(1, ContactModel::NameColumn), QStringLiteral("Name 1"));
    QCOMPARE(f.cell(1, ContactModel::NumberColumn), QStringLiteral("5550001"));
    // Only the name is empty in row 4: the number is shown as stored.
    f.data.contactList->put(3, contact(QString(), "123"));
    QCOMPARE(f.cell(3, ContactModel::NameColumn), QStringLiteral("<Contact #4>"));
    QCOMPARE(f.cell(3, ContactModel::NumberColumn), QStringLiteral("123"));
    QCOMPARE(f.view->model->headerData(ContactModel::NameColumn, Qt::Horizontal).toString(),
             QStringLiteral("Name"));
    QCOMPARE(f.view->model->headerData(ContactModel::SentCountColumn, Qt::Horizontal).toString(),
             QStringLiteral("Sent Count"));
    QCOMPARE(f.view->listView->header()->sectionResizeMode(ContactModel::CheckColumn),
             QHeaderView::Fixed);
}

void TestUiContacts::checkBoxShowsStoredFlag() {
    Fixture f(3);
    const auto state = [&](int row) {
        return f.view->model->index(row, ContactModel::CheckColumn).data(Qt::CheckStateRole);
    };
    QCOMPARE(state(0).toInt(), int(Qt::Checked));
    QCOMPARE(state(1).toInt(), int(Qt::Unchecked));
    // A flag changed behind the view's back shows at the next draw.
    Contact c = f.data.contactList->get(1);
    c.checked = 1;
    f.data.contactList->put(1, c);
    QCOMPARE(state(1).toInt(), int(Qt::Checked));
    const QIcon checkedIcon =
        f.view->model->index(1, ContactModel::NameColumn).data(Qt::DecorationRole).value<QIcon>();
    QVERIFY(!checkedIcon.isNull());
}

void TestUiContacts::modelRowsFollowRefreshOnly() {
    Fixture f(4);
    QCOMPARE(f.view->model->rowCount(), 4);
    f.data.contactList->remove(3);
    f.data.contactList->remove(2);
    // Until the refresh the rows stay; the ones past the list's end show nothing.
    QCOMPARE(f.view->model->rowCount(), 4);
    QVERIFY(!f.view->model->index(3, ContactModel::NameColumn).data().isValid());
    f.view->refreshList();
    QCOMPARE(f.view->model->rowCount(), 2);
    QCOMPARE(f.total(), 2);
    for (int i = 0; i < 3; ++i)
        f.data.contactList->add(contact(QStringLiteral("n"), "1"));
    f.view->refreshList();
    QCOMPARE(f.view->model->rowCount(), 5);
}

void TestUiContacts::composeSelectedInListOrder() {
    Fixture f(6);
    f.data.contactList->put(1, contact(QStringLiteral("a"), "A"));
    f.data.contactList->put(3, contact(QStringLiteral("b"), "B"));
    f.data.contactList->put(4, contact(QStringLiteral("c"), "C"));
    f.data.modified = false;
    // Selected out of order: the text follows the list.
    f.selectRows({4, 1, 3});
    QCOMPARE(f.view->selectedCount(), 3);
    f.view->composeAction->trigger();
    QCOMPARE(f.host.composedTo, QList<QByteArray>{"A;B;C;"});

    // A contact without a number contributes the separator alone.
    f.data.contactList->put(3, contact(QStringLiteral("b"), QByteArray()));
    f.data.modified = false;
    f.view->composeAction->trigger();
    QCOMPARE(f.host.composedTo.last(), QByteArray("A;;C;"));
    QVERIFY(!f.data.modified);
}

void TestUiContacts::panelClearedWhenListEmptied() {
    Fixture f(3);
    f.click(2);
    QCOMPARE(f.view->nameEdit->text(), QStringLiteral("Name 2"));
    // A new project empties the list behind the view's back, then refreshes it.
    f.data.newProject();
    f.host.refreshAll();
    QCOMPARE(f.view->nameEdit->text(), QString());
    QCOMPARE(f.view->numberEdit->text(), QString());
    QCOMPARE(f.view->editIndex(), 0);
    QVERIFY(!f.view->editAction->isEnabled());
}

void TestUiContacts::composeByDoubleClick() {
    Fixture f(3);
    const QPoint at = f.cellRect(2, ContactModel::NumberColumn).center();
    QTest::mouseClick(f.view->listView->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(f.view->listView->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(f.host.composedTo, QList<QByteArray>{"5550002;"});
}

void TestUiContacts::newOnFive() {
    Fixture f(5);
    f.selectRows({0, 2});
    const int checkedBefore = f.checked();
    const int refreshes = f.host.refreshAllCount;
    f.view->newAction->trigger();

    QCOMPARE(f.data.contactList->count(), 6);
    QCOMPARE(f.data.contactList->get(5), (Contact{QString(), QByteArray(), 0, 1}));
    QCOMPARE(f.cell(5, ContactModel::NameColumn), QStringLiteral("<Contact #6>"));
    QCOMPARE(f.cell(5, ContactModel::NumberColumn), QStringLiteral("<Phone #6>"));
    QCOMPARE(f.view->selectedRows(), QList<int>{5});
    QCOMPARE(f.view->editIndex(), 5);
    QCOMPARE(f.view->nameEdit->text(), QString());
    QCOMPARE(f.total(), 6);
    QCOMPARE(f.checked(), checkedBefore + 1);
    QVERIFY(f.data.modified);
    QCOMPARE(f.host.refreshAllCount, refreshes + 1);
}

void TestUiContacts::insertKeyNeedsFocusedRow() {
    Fixture f(0);
    f.view->listView->setFocus();
    QTest::keyClick(f.view->listView, Qt::Key_Insert);
    QCOMPARE(f.data.contactList->count(), 0);
    // Ctrl+N works without a focused row.
    QTest::keyClick(f.view->listView, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(f.data.contactList->count(), 1);
    QVERIFY(f.view->listView->currentIndex().isValid());
    QTest::keyClick(f.view->listView, Qt::Key_Insert);
    QCOMPARE(f.data.contactList->count(), 2);
    QTest::keyClick(f.view->listView, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(f.data.contactList->count(), 2);
}

void TestUiContacts::checkActionDoesNotModify_data() {
    QTest::addColumn<bool>("check");
    QTest::newRow("Check") << true;
    QTest::newRow("Uncheck") << false;
}

void TestUiContacts::checkActionDoesNotModify() {
    QFETCH(bool, check);
    Fixture f(8); // rows 0, 2, 4, 6 checked
    const QList<int> rows{1, 2, 5, 6};
    f.selectRows(rows);
    const int refreshes = f.host.refreshAllCount;
    (check ? f.view->checkAction : f.view->uncheckAction)->trigger();

    for (int row = 0; row < 8; ++row) {
        const bool expected = rows.contains(row) ? check : row % 2 == 0;
        QCOMPARE(f.data.contactList->get(row).checked, quint8(expected));
        QCOMPARE(
            f.view->model->index(row, ContactModel::CheckColumn).data(Qt::CheckStateRole).toInt(),
            int(expected ? Qt::Checked : Qt::Unchecked));
    }
    QCOMPARE(f.checked(), check ? 6 : 2);
    // Nothing to save: the close question would not be asked.
    QVERIFY(!f.data.modified);
    QCOMPARE(f.host.refreshAllCount, refreshes + 1);
    QCOMPARE(f.view->selectedRows(), rows);
}

void TestUiContacts::checkBoxClickPutsAndCountsAtOnce() {
    Fixture f(4); // rows 0 and 2 checked
    QCOMPARE(f.checked(), 2);
    const int refreshes = f.host.refreshAllCount;
    QTest::mouseClick(f.view->listView->viewport(), Qt::LeftButton, {},
                      f.cellRect(1, ContactModel::CheckColumn).center());
    QCOMPARE(f.data.contactList->get(1).checked, quint8(1));
    QCOMPARE(f.checked(), 3);
    QVERIFY(f.data.modified);
    // The main window learns of it at its next refresh only.
    QCOMPARE(f.host.refreshAllCount, refreshes);

    QTest::mouseClick(f.view->listView->viewport(), Qt::LeftButton, {},
                      f.cellRect(0, ContactModel::CheckColumn).center());
    QCOMPARE(f.data.contactList->get(0).checked, quint8(0));
    QCOMPARE(f.checked(), 2);
    // A click elsewhere in the row leaves the flag; Space then works the box.
    f.click(3);
    QCOMPARE(f.data.contactList->get(3).checked, quint8(0));
    QTest::keyClick(f.view->listView, Qt::Key_Space);
    QCOMPARE(f.data.contactList->get(3).checked, quint8(1));
    QCOMPARE(f.checked(), 3);
    QCOMPARE(f.host.refreshAllCount, refreshes);
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
    Fixture f(5);
    f.selectRows(rows);
    QCOMPARE(f.view->editAction->isEnabled(), edit);
    QCOMPARE(f.view->editButton->isEnabled(), edit);
    QCOMPARE(f.view->composeAction->isEnabled(), selectionActions);
    QCOMPARE(f.view->deleteAction->isEnabled(), selectionActions);
    QCOMPARE(f.view->checkAction->isEnabled(), selectionActions);
    QCOMPARE(f.view->uncheckAction->isEnabled(), selectionActions);
    QVERIFY(f.view->newAction->isEnabled());
    QVERIFY(f.view->selectAllAction->isEnabled());
    QVERIFY(!f.view->editCancelAction->isEnabled());
    // Edit triggered anyway (a shortcut, a stale menu) changes nothing when not allowed.
    f.view->editAction->setEnabled(true);
    f.view->editAction->trigger();
    QCOMPARE(f.view->isEditing(), edit);
}

void TestUiContacts::editOkStoresFreshRead() {
    Fixture f(3);
    f.click(1);
    QCOMPARE(f.view->nameEdit->text(), QStringLiteral("Name 1"));
    QVERIFY(f.view->nameEdit->isReadOnly());
    f.view->editButton->click();
    QVERIFY(f.view->isEditing());
    QVERIFY(!f.view->nameEdit->isReadOnly());
    QCOMPARE(f.view->editButton->text(), QStringLiteral("&OK"));
    QVERIFY(f.view->cancelButton->isEnabled());
    QVERIFY(f.view->nameEdit->hasFocus());
    // The sender counts a message while the edit is open.
    f.data.contactList->incSentCount("5550001");
    f.view->nameEdit->setText(QStringLiteral("Zoë"));
    f.view->numberEdit->setText(QString());
    f.view->editButton->click();

    QCOMPARE(f.data.contactList->get(1), (Contact{QStringLiteral("Zoë"), QByteArray(), 2, 0}));
    QCOMPARE(f.view->currentContact(), f.data.contactList->get(1));
    QVERIFY(f.data.modified);
    QVERIFY(!f.view->isEditing());
    QVERIFY(f.view->numberEdit->isReadOnly());
    QCOMPARE(f.view->editButton->text(), QStringLiteral("&Edit"));
    QVERIFY(!f.view->cancelButton->isEnabled());
    QVERIFY(f.view->listView->hasFocus());
    QCOMPARE(f.cell(1, ContactModel::NumberColumn), QStringLiteral("<Phone #2>"));
}

void TestUiContacts::editCancelAndKeys() {
    Fixture f(3);
    f.click(2);
    // Enter is the default button: Edit, then OK.
    QTest::keyClick(f.view->listView, Qt::Key_Return);
    QVERIFY(f.view->isEditing());
    f.view->nameEdit->setText(QStringLiteral("changed"));
    // Escape is the cancel button: the fields show the stored contact again.
    QTest::keyClick(f.view->nameEdit, Qt::Key_Escape);
    QVERIFY(!f.view->isEditing());
    QCOMPARE(f.view->nameEdit->text(), QStringLiteral("Name 2"));
    QVERIFY(!f.data.modified);

    f.view->editAction->trigger();
    QTest::keyClicks(f.view->numberEdit, QStringLiteral("9"));
    QTest::keyClick(f.view->numberEdit, Qt::Key_Return);
    QVERIFY(!f.view->isEditing());
    QCOMPARE(f.data.contactList->get(2).number, QByteArray("55500029"));
    QVERIFY(f.data.modified);
}

void TestUiContacts::downInNameFieldDropsEdit() {
    Fixture f(4);
    f.click(1);
    f.view->editAction->trigger();
    f.view->nameEdit->setText(QStringLiteral("dropped"));
    QTest::keyClick(f.view->nameEdit, Qt::Key_Down);
    QCOMPARE(f.view->editIndex(), 2);
    QCOMPARE(f.view->selectedRows(), QList<int>{2});
    QVERIFY(!f.view->isEditing());
    QCOMPARE(f.view->nameEdit->text(), QStringLiteral("Name 2"));
    QCOMPARE(f.data.contactList->get(1).name, QStringLiteral("Name 1"));
    QVERIFY(!f.data.modified);
    // With a modifier the key stays in the field; Up goes back to the previous contact.
    f.view->nameEdit->setFocus();
    QTest::keyClick(f.view->nameEdit, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(f.view->editIndex(), 2);
    QTest::keyClick(f.view->numberEdit, Qt::Key_Up);
    QCOMPARE(f.view->editIndex(), 1);
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
    Fixture f(count);
    f.selectRows(rows);
    DialogScript dialogs;
    dialogs.answers = {QMessageBox::Yes};
    f.view->deleteAction->trigger();

    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text,
             QStringLiteral("Are you sure you want to delete the selected contact(s) ?"));
    QCOMPARE(dialogs.messages[0].kind, MessageKind::Confirm);
    QCOMPARE(dialogs.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        if (!rows.contains(i))
            names << QStringLiteral("Name %1").arg(i);
    }
    QStringList left;
    for (int i = 0; i < f.data.contactList->count(); ++i)
        left << f.data.contactList->get(i).name;
    QCOMPARE(left, names);
    QCOMPARE(f.view->model->rowCount(), names.size());
    QCOMPARE(f.total(), names.size());
    QVERIFY(f.data.modified);
    if (selectedAfter >= 0) {
        QCOMPARE(f.view->selectedRows(), QList<int>{selectedAfter});
        QCOMPARE(f.view->editIndex(), selectedAfter);
        QCOMPARE(f.view->nameEdit->text(), names[selectedAfter]);
        QVERIFY(f.view->listView->hasFocus());
    } else {
        QCOMPARE(f.view->selectedCount(), 0);
        QCOMPARE(f.view->nameEdit->text(), QString());
    }
}

void TestUiContacts::deleteKeyAndNoAnswer() {
    Fixture f(4);
    f.click(1);
    DialogScript dialogs;
    dialogs.answers = {QMessageBox::No, QMessageBox::Yes};
    QTest::keyClick(f.view->listView, Qt::Key_Delete);
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(f.data.contactList->count(), 4);
    QVERIFY(!f.data.modified);
    QTest::keyClick(f.view->listView, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(dialogs.messages.size(), 1);
    QTest::keyClick(f.view->listView, Qt::Key_Delete);
    QCOMPARE(f.data.contactList->count(), 3);
    QCOMPARE(f.data.contactList->get(1).name, QStringLiteral("Name 2"));
    // Nothing selected: no question at all.
    f.view->listView->clearSelection();
    f.view->deleteAction->setEnabled(true);
    f.view->deleteAction->trigger();
    QCOMPARE(dialogs.messages.size(), 2);
}

void TestUiContacts::selectAllThenCompose() {
    Fixture f(4);
    f.view->selectAllAction->trigger();
    QCOMPARE(f.view->selectedCount(), 4);
    QVERIFY(!f.view->editAction->isEnabled());
    f.view->composeAction->trigger();
    QCOMPARE(f.host.composedTo, QList<QByteArray>{"5550000;5550001;5550002;5550003;"});
}

void TestUiContacts::importSummary() {
    Fixture f(2);
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
    const int checkedBefore = f.checked();

    DialogScript dialogs;
    dialogs.fileNames = {path};
    f.view->importAction->trigger();
    QCOMPARE(dialogs.saveDialogs, QList<bool>{false});
    QVERIFY2(dialogs.filters.first().startsWith(
                 QStringLiteral("Contacts (*.csv *.txt *.vcf)|*.csv;*.txt;*.vcf|")),
             qPrintable(dialogs.filters.first()));
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text,
             QStringLiteral("Imported 10 contacts, ignored 2 duplicates from\r\n") +
                 QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    QCOMPARE(dialogs.messages[0].kind, MessageKind::Information);
    QCOMPARE(dialogs.messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(f.total(), 12);
    QCOMPARE(f.checked(), checkedBefore + 10);
    QCOMPARE(f.view->model->rowCount(), 12);
    QCOMPARE(f.cell(11, ContactModel::NameColumn), QStringLiteral("New 9"));
    QVERIFY(f.data.modified);
}

void TestUiContacts::importMalformedLineShowsErrorAndRows() {
    Fixture f(1);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("A,1\nB,2\n\"C\" ,3\nD,4\n");
    file.close();
    DialogScript dialogs;
    dialogs.fileNames = {path};
    f.view->importAction->trigger();
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].kind, MessageKind::Warning);
    // The summary names the bad line; the contacts around it are in the list and on show.
    QVERIFY2(dialogs.messages[0].text.startsWith(
                 QStringLiteral("Imported 3 contacts, ignored 0 duplicates from\r\n")),
             qPrintable(dialogs.messages[0].text));
    QVERIFY2(dialogs.messages[0].text.endsWith(
                 QStringLiteral("\r\n1 malformed line was skipped.\r\nline 3: String is a "
                                "badly formed CSV string: mismatched quotes, no comma after "
                                "closing quote [MirvParser.ExtractFields])")),
             qPrintable(dialogs.messages[0].text));
    QCOMPARE(f.data.contactList->count(), 4);
    QCOMPARE(f.view->model->rowCount(), 4);
    QCOMPARE(f.total(), 4);

    // A file that cannot be read: the error, nothing added.
    dialogs.fileNames = {dir.filePath(QStringLiteral("missing.txt"))};
    f.view->importAction->trigger();
    QCOMPARE(dialogs.messages.size(), 2);
    QCOMPARE(dialogs.messages[1].kind, MessageKind::Error);
    QCOMPARE(f.data.contactList->count(), 4);
}

void TestUiContacts::importCancelled() {
    Fixture f(1);
    DialogScript dialogs;
    f.view->importAction->trigger();
    f.view->exportAction->trigger();
    QCOMPARE(dialogs.filters.size(), 2);
    QVERIFY(dialogs.messages.isEmpty());
    QVERIFY(!f.data.modified);
}

void TestUiContacts::exportWritesFile() {
    Fixture f(2);
    QTemporaryDir dir;
    DialogScript dialogs;
    // The default extension is added to a name without one.
    dialogs.fileNames = {dir.filePath(QStringLiteral("out"))};
    f.view->exportAction->trigger();
    QCOMPARE(dialogs.saveDialogs, QList<bool>{true});
    QCOMPARE(dialogs.filters.first(),
             QStringLiteral("Text files (*.txt)|*.txt|All files (*.*)|*.*"));
    QFile file(dir.filePath(QStringLiteral("out.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("\"Name 0\",\"5550000\",0\r\n\"Name 1\",\"5550001\",1\r\n"));
    QVERIFY(dialogs.messages.isEmpty());
    QVERIFY(!f.data.modified);
}

void TestUiContacts::exportFailureShowsError() {
    Fixture f(2);
    QTemporaryDir dir;
    DialogScript dialogs;
    dialogs.fileNames = {dir.filePath(QStringLiteral("no/such/folder/out.txt"))};
    f.view->exportAction->trigger();
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].kind, MessageKind::Error);
    QVERIFY(!dialogs.messages[0].text.isEmpty());
}

void TestUiContacts::copyLeavesListAlone() {
    Fixture f(3);
    f.selectRows({0, 2});
    QApplication::clipboard()->clear();
    QTest::keyClick(f.view->listView, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(f.data.contactList->count(), 3);
    QVERIFY(!f.data.modified);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("Name 0\t5550000\t0\nName 2\t5550002\t2\n"));
    QTest::keyClick(f.view->listView, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.data.contactList->count(), 3);
}

void TestUiContacts::contextMenuOrder() {
    Fixture f(1);
    QStringList texts;
    for (QAction *action : f.view->contextMenu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(texts, (QStringList{"Compose", "-", "Check", "Uncheck", "Select All", "-", "New",
                                 "&Edit", "Delete"}));
}

void TestUiContacts::duplicatesFilter() {
    Fixture f(0);
    f.data.settings->setCountry(QStringLiteral("DE"));
    const QList<Contact> contacts = {
        contact("Anna", "+49 151 23456789"),  contact("Bob", "030 1234567"),
        contact("Anna B.", "0151-2345 6789"), contact("Cid", "0170 1"),
        contact("Bobby", "0049 30 1234567"),  contact("Anna C.", "015123456789")};
    for (const Contact &c : contacts)
        f.data.contactList->add(c);
    f.view->refreshList();
    QVERIFY(!f.view->duplicatesAction->isChecked());
    QVERIFY(f.view->toolBar->actions().contains(f.view->duplicatesAction));

    // Each number's contacts together, in order of their first contact.
    f.view->duplicatesAction->trigger();
    QVERIFY(f.view->model->isFiltered());
    QStringList names;
    for (int row = 0; row < f.view->model->rowCount(); ++row)
        names << f.cell(row, ContactModel::NameColumn);
    QCOMPARE(names, (QStringList{"Anna", "Anna B.", "Anna C.", "Bob", "Bobby"}));
    QCOMPARE(f.total(), 6);

    // Rows stand for their contacts: choosing, checking, composing and deleting.
    f.click(3);
    QCOMPARE(f.view->editIndex(), 1);
    QCOMPARE(f.view->nameEdit->text(), QStringLiteral("Bob"));
    f.selectRows({1, 4});
    QCOMPARE(f.view->selectedRows(), (QList<int>{2, 4}));
    f.view->checkAction->trigger();
    QCOMPARE(f.data.contactList->get(2).checked, quint8(1));
    QCOMPARE(f.data.contactList->get(4).checked, quint8(1));
    QCOMPARE(f.data.contactList->get(3).checked, quint8(0));
    f.view->composeAction->trigger();
    QCOMPARE(f.host.composedTo.last(), QByteArray("0151-2345 6789;0049 30 1234567;"));

    DialogScript dialogs;
    dialogs.answers = {QMessageBox::Yes};
    f.selectRows({3});
    f.view->deleteAction->trigger();
    // Bob's number has no duplicate left: the filter shows the Annas only.
    QCOMPARE(f.data.contactList->count(), 5);
    QCOMPARE(f.view->model->rowCount(), 3);
    QCOMPARE(f.cell(2, ContactModel::NameColumn), QStringLiteral("Anna C."));

    // New shows the whole list again.
    f.view->newAction->trigger();
    QVERIFY(!f.view->duplicatesAction->isChecked());
    QVERIFY(!f.view->model->isFiltered());
    QCOMPARE(f.view->model->rowCount(), 6);
    QCOMPARE(f.view->editIndex(), 5);
}

void TestUiContacts::columnsFitAndSentCountShows() {
    Fixture f(3);
    // The width the contacts view has in a main window of the first size.
    f.view->resize(469, 480);
    f.data.contactList->add(
        contact(QStringLiteral("Maximilian Oberhauser-Lindqvist"), "+4915112345678", 0, true));
    f.view->refreshList();
    // A second view is shown for the first time with the new contact on screen.
    ContactsView second(f.data, f.host);
    second.resize(469, 480);
    second.show();
    QHeaderView *header = second.listView->header();
    const QFontMetrics metrics = second.listView->fontMetrics();
    QVERIFY(header->sectionSize(ContactModel::NameColumn) >
            metrics.horizontalAdvance(QStringLiteral("Maximilian Oberhauser-Lindqvist")));
    QVERIFY(header->sectionSize(ContactModel::NumberColumn) >
            metrics.horizontalAdvance(QStringLiteral("+000000000000000")));
    QVERIFY(header->sectionSize(ContactModel::NumberColumn) <= ContactsView::MaxNumberWidth);
    // Sent Count is on screen whole.
    const int sentCountEnd = header->sectionViewportPosition(ContactModel::SentCountColumn) +
                             header->sectionSize(ContactModel::SentCountColumn);
    QVERIFY2(sentCountEnd <= second.listView->viewport()->width(),
             qPrintable(QString::number(sentCountEnd)));
}

QTEST_MAIN(TestUiContacts)
#include "tst_ui_contacts.moc"
