// The messages view on real widgets: rows read from the list on demand, dates and joined
// lines, the preview, Delete, Resend, Forward, Select All, keys and the header.

#include "app/AppData.h"
#include "base/OleDate.h"
#include "data/MessageList.h"
#include "support/ViewTestHost.h"
#include "ui/ColumnWidths.h"
#include "ui/ComposeView.h"
#include "ui/Dialogs.h"
#include "ui/Images.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <memory>

namespace {

Message makeMessage(int i, MessageStatus status = MessageStatus::Pending) {
    Message message;
    message.number = "+49170" + QByteArray::number(1000 + i);
    message.text = QStringLiteral("message %1").arg(i);
    message.created = dateTimeToOle(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    message.status = status;
    return message;
}

struct Fixture {
    Fixture() {
        data = std::make_unique<AppData>(dir.filePath(QStringLiteral("pelorvane.ini")));
        host = std::make_unique<ViewTestHost>(*data);
        outbox = host->outboxView();
        sent = host->sentView();
        host->pane->show();
        outbox->show();
        dialogHooks().message = [this](const QString &text, MessageKind kind,
                                       QMessageBox::StandardButtons) {
            questions << text;
            kinds << kind;
            return answer;
        };
    }
    ~Fixture() { dialogHooks() = DialogHooks(); }

    void fill(MessageList &list, int count, MessageStatus status = MessageStatus::Pending) {
        for (int i = 1; i <= count; ++i)
            list.add(makeMessage(i, status));
    }

    // Selects rows given by list index, replacing the selection.
    static void select(MessagesView *view, const QList<int> &rows) {
        QItemSelection selection;
        for (int row : rows)
            selection.select(view->model()->index(row, 0),
                             view->model()->index(row, MessageModel::ColumnCount - 1));
        view->listView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }

    static QStringList texts(const MessageList &list) {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i)
            texts << list.get(i).text;
        return texts;
    }

    static QString cell(MessagesView *view, int row, int column) {
        return view->model()->index(row, column).data().toString();
    }

    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    std::unique_ptr<ViewTestHost> host;
    MessagesView *outbox = nullptr;
    MessagesView *sent = nullptr;
    QStringList questions;
    QList<MessageKind> kinds;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
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
    void sentViewShowsPhoneAndDelivery();
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
    void addAndResendAnnounceRowsAtTheEnd();
    void moveSentAnnouncesEachRun_data();
    void moveSentAnnouncesEachRun();
    void retryActionsFollowStatuses();
    void retryPutsBackOnlyItsKind_data();
    void retryPutsBackOnlyItsKind();
    void toolBarHasResendForwardDelete();
    void messageColumnStretches();
    void toColumnFitsScreenfulOnly();
    void cutCellShowsWholeTextAsTip();
};

void TestUiMessages::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiMessages::init() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiMessages::modelPassesTester() {
    Fixture f;
    f.fill(*f.data->outboxList, 10);
    MessageModel model(*f.data->outboxList);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 10);
    QCOMPARE(model.columnCount(), 7);
    f.data->outboxList->add(makeMessage(11));
    model.syncRowCount();
    QCOMPARE(model.rowCount(), 11);
    f.data->outboxList->removeMany({9, 10});
    model.syncRowCount();
    QCOMPARE(model.rowCount(), 9);
    f.data->outboxList->removeMany({0, 4});
    model.reset();
    QCOMPARE(model.rowCount(), 7);
    QCOMPARE(model.index(0, MessageModel::MessageColumn).data().toString(),
             QStringLiteral("message 2"));
    f.data->outboxList->clear();
    model.syncRowCount();
    QCOMPARE(model.rowCount(), 0);
}

void TestUiMessages::layoutOfTheView() {
    Fixture f;
    QCOMPARE(f.outbox->titleLabel->text(), QStringLiteral("Outbox"));
    QCOMPARE(f.sent->titleLabel->text(), QStringLiteral("Sent"));
    QTableView *tree = f.outbox->listView();
    QCOMPARE(tree->objectName(), QStringLiteral("listView"));
    QCOMPARE(tree->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QVERIFY(tree->verticalHeader()->isHidden());
    QCOMPARE(tree->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(tree->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!tree->isSortingEnabled());
    QHeaderView *header = tree->horizontalHeader();
    const QStringList captions = {QString(), QStringLiteral("To"), QStringLiteral("Message"),
                                  QStringLiteral("Date Created"), QStringLiteral("Date Sent")};
    // To fits a whole international number, Message takes the rest.
    const int toWidth = tree->fontMetrics().horizontalAdvance(QStringLiteral("+000000000000000"));
    const int widths[] = {24, -1, -1, 145, 145};
    for (int column = 0; column < 5; ++column) {
        QCOMPARE(f.outbox->model()->headerData(column, Qt::Horizontal).toString(),
                 captions[column]);
        if (widths[column] > 0)
            QCOMPARE(header->sectionSize(column), widths[column]);
    }
    QVERIFY(header->sectionSize(MessageModel::ToColumn) > toWidth);
    QVERIFY(header->sectionSize(MessageModel::ToColumn) <= MessagesView::MaxToWidth);
    QCOMPARE(header->sectionResizeMode(MessageModel::MessageColumn), QHeaderView::Stretch);
    QCOMPARE(header->length(), tree->viewport()->width());
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Fixed);
    QVERIFY(header->sectionsMovable());
    QVERIFY(!header->isFirstSectionMovable());
    QVERIFY(f.outbox->previewEdit->isReadOnly());
    QCOMPARE(f.outbox->findChild<QWidget *>(QStringLiteral("titleStrip"))->height(), 33);
    const auto menu = [](MessagesView *view) {
        QStringList texts;
        for (QAction *action : view->contextMenu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return texts;
    };
    const QStringList common = {QStringLiteral("Forward"), QStringLiteral("Resend"),
                                QStringLiteral("-"), QStringLiteral("Delete"),
                                QStringLiteral("Select All")};
    QCOMPARE(menu(f.sent), common);
    const QStringList retry = {QStringLiteral("-"), QStringLiteral("Retry failed"),
                               QStringLiteral("Retry unknown")};
    QCOMPARE(menu(f.outbox), common + retry);
}

void TestUiMessages::columnsShowTheMessage() {
    Fixture f;
    Message message = makeMessage(1);
    message.number = "0171-555";
    message.text = QStringLiteral("first line\r\nsecond line\nthird");
    f.outbox->addMessage(message);
    QCOMPARE(Fixture::cell(f.outbox, 0, MessageModel::ToColumn), QStringLiteral("0171-555"));
    QCOMPARE(Fixture::cell(f.outbox, 0, MessageModel::MessageColumn),
             QStringLiteral("first line second line third"));
    QCOMPARE(Fixture::cell(f.outbox, 0, MessageModel::StatusColumn), QString());
}

// The Phone and Delivery columns appear in the Sent view once a message has something for
// them, never in the Outbox; a copy takes only the columns shown.
void TestUiMessages::sentViewShowsPhoneAndDelivery() {
    Fixture f;
    f.fill(*f.data->sentList, 2, MessageStatus::Sent);
    f.host->refreshAll();
    QTableView *list = f.sent->listView();
    QVERIFY(list->isColumnHidden(MessageModel::PhoneColumn));
    QVERIFY(list->isColumnHidden(MessageModel::DeliveryColumn));

    Message viaPhone = makeMessage(3, MessageStatus::Sent);
    viaPhone.phone = QStringLiteral("ttyUSB1");
    Message viaCentre = makeMessage(4, MessageStatus::Sent);
    viaCentre.messageId = "1f";
    viaCentre.delivery = DeliveryState::Undelivered;
    viaCentre.deliveryDetail = QStringLiteral("UNDELIV, error 001");
    f.data->sentList->add(viaPhone);
    f.data->outboxList->add(viaPhone);
    f.host->refreshAll();
    QVERIFY(!list->isColumnHidden(MessageModel::PhoneColumn));
    QVERIFY(list->isColumnHidden(MessageModel::DeliveryColumn));
    QVERIFY(f.outbox->listView()->isColumnHidden(MessageModel::PhoneColumn));
    f.data->sentList->add(viaCentre);
    f.host->refreshAll();
    QVERIFY(!list->isColumnHidden(MessageModel::DeliveryColumn));
    QCOMPARE(f.sent->model()->headerData(MessageModel::PhoneColumn, Qt::Horizontal).toString(),
             QStringLiteral("Phone"));
    QCOMPARE(Fixture::cell(f.sent, 2, MessageModel::PhoneColumn), QStringLiteral("ttyUSB1"));
    QCOMPARE(Fixture::cell(f.sent, 3, MessageModel::DeliveryColumn),
             QStringLiteral("Not delivered"));
    QCOMPARE(
        f.sent->model()->index(3, MessageModel::DeliveryColumn).data(Qt::ToolTipRole).toString(),
        QStringLiteral("Not delivered (UNDELIV, error 001)"));

    Fixture::select(f.outbox, {0});
    QTest::keyClick(f.outbox->listView(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text().count(QLatin1Char('\t')), 3);
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
    Fixture f;
    Message message = makeMessage(1, MessageStatus::Sent);
    message.sent = when.isValid() ? dateTimeToOle(when) : 0.0;
    f.sent->addMessage(message);
    QCOMPARE(Fixture::cell(f.sent, 0, MessageModel::SentColumn), shown);
    QCOMPARE(Fixture::cell(f.sent, 0, MessageModel::CreatedColumn),
             QStringLiteral("3/5/24 2:07:09 PM"));
}

void TestUiMessages::statusImages() {
    Fixture f;
    for (int status : {0, 1, 2, 7}) {
        Message message = makeMessage(status);
        message.status = static_cast<MessageStatus>(status);
        f.outbox->addMessage(message);
    }
    auto image = [&](int row) {
        return f.outbox->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    };
    for (MessageStatus status : {MessageStatus::Failed, MessageStatus::Unknown}) {
        Message message = makeMessage(int(status));
        message.status = status;
        f.outbox->addMessage(message);
    }
    // Pending, Sending, Sent, Failed, Unknown: each its own picture.
    const QList<QIcon> icons = {image(0), image(1), image(2), image(4), image(5)};
    QSet<QByteArray> pictures;
    for (const QIcon &icon : icons) {
        QVERIFY(!icon.isNull());
        const QImage picture = icon.pixmap(SmallImageSize).toImage();
        pictures.insert(
            QByteArray(reinterpret_cast<const char *>(picture.constBits()), picture.sizeInBytes()));
    }
    QCOMPARE(pictures.size(), icons.size());
    QVERIFY(image(3).isNull());
    // Only the first column shows the picture.
    QVERIFY(f.outbox->model()->index(0, 1).data(Qt::DecorationRole).isNull());
}

void TestUiMessages::rowsAreReadWhenDrawn() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    QCOMPARE(Fixture::cell(f.outbox, 1, MessageModel::MessageColumn), QStringLiteral("message 2"));
    Message changed = f.data->outboxList->get(1);
    changed.text = QStringLiteral("changed meanwhile");
    changed.status = MessageStatus::Sent;
    f.data->outboxList->put(1, changed);
    // No refresh: the cell reads the list afresh.
    QCOMPARE(Fixture::cell(f.outbox, 1, MessageModel::MessageColumn),
             QStringLiteral("changed meanwhile"));
}

void TestUiMessages::rowsPastTheListEndAreEmpty() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    f.data->outboxList->clear();
    QCOMPARE(f.outbox->model()->rowCount(), 3);
    QCOMPARE(Fixture::cell(f.outbox, 2, MessageModel::ToColumn), QString());
    f.outbox->listView()->viewport()->repaint();
    f.outbox->refreshList();
    QCOMPARE(f.outbox->model()->rowCount(), 0);
}

void TestUiMessages::previewShowsWholeText() {
    Fixture f;
    Message message = makeMessage(1);
    message.text = QStringLiteral("Line one\r\nLine two");
    f.outbox->addMessage(message);
    Fixture::select(f.outbox, {0});
    QCOMPARE(f.outbox->previewEdit->toPlainText(), QStringLiteral("Line one\nLine two"));
    QCOMPARE(f.outbox->previewEdit->document()->blockCount(), 2);
}

void TestUiMessages::previewKeepsTextOnRangeChange() {
    Fixture f;
    f.fill(*f.data->outboxList, 5);
    f.outbox->refreshList();
    Fixture::select(f.outbox, {2});
    QCOMPARE(f.outbox->previewEdit->toPlainText(), QStringLiteral("message 3"));
    f.outbox->selectAllAction->trigger();
    QCOMPARE(f.outbox->previewEdit->toPlainText(), QStringLiteral("message 3"));
    // A click on one row names it.
    QTableView *tree = f.outbox->listView();
    const QRect rect = tree->visualRect(f.outbox->model()->index(4, 2));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QCOMPARE(f.outbox->selectedRows(), QList<int>{4});
    QCOMPARE(f.outbox->previewEdit->toPlainText(), QStringLiteral("message 5"));
}

void TestUiMessages::actionsFollowSelection() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    auto states = [&] {
        return QList<bool>{f.outbox->forwardAction->isEnabled(),
                           f.outbox->resendAction->isEnabled(), f.outbox->deleteAction->isEnabled(),
                           f.outbox->selectAllAction->isEnabled()};
    };
    QCOMPARE(states(), (QList<bool>{false, false, false, true}));
    Fixture::select(f.outbox, {1});
    QCOMPARE(states(), (QList<bool>{true, true, true, true}));
    f.outbox->listView()->clearSelection();
    QCOMPARE(states(), (QList<bool>{false, false, false, true}));
    // The idle update computes the same.
    f.outbox->deleteAction->setEnabled(true);
    f.outbox->updateActions();
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
    Fixture f;
    f.fill(*f.data->outboxList, count);
    f.outbox->refreshList();
    Fixture::select(f.outbox, selected);
    f.outbox->previewEdit->setPlainText(QStringLiteral("shown before"));
    const int refreshes = f.host->refreshes;
    f.data->modified = false;
    f.outbox->deleteAction->trigger();

    QCOMPARE(f.questions, QStringList{QStringLiteral(
                              "Are you sure you want to delete the selected message(s) ?")});
    QCOMPARE(f.kinds, QList<MessageKind>{MessageKind::Confirm});
    QStringList expected;
    for (int number : remaining)
        expected << QStringLiteral("message %1").arg(number);
    QCOMPARE(Fixture::texts(*f.data->outboxList), expected);
    QCOMPARE(f.outbox->model()->rowCount(), remaining.size());
    if (current < 0) {
        QVERIFY(f.outbox->selectedRows().isEmpty());
    } else {
        QCOMPARE(f.outbox->selectedRows(), QList<int>{current});
        QCOMPARE(f.outbox->listView()->currentIndex().row(), current);
    }
    QCOMPARE(f.outbox->previewEdit->toPlainText(), QString());
    QVERIFY(f.host->refreshes > refreshes);
    QVERIFY(f.data->modified);
}

void TestUiMessages::deleteAnsweredNoKeepsAll() {
    Fixture f;
    f.fill(*f.data->outboxList, 4);
    f.outbox->refreshList();
    Fixture::select(f.outbox, {0, 1});
    f.answer = QMessageBox::No;
    f.outbox->deleteAction->trigger();
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.data->outboxList->count(), 4);
    QCOMPARE(f.outbox->selectedRows(), (QList<int>{0, 1}));
}

void TestUiMessages::deleteKeyNeedsSelection() {
    Fixture f;
    f.fill(*f.data->outboxList, 4);
    f.outbox->refreshList();
    QTableView *tree = f.outbox->listView();
    tree->selectionModel()->setCurrentIndex(f.outbox->model()->index(2, 0),
                                            QItemSelectionModel::NoUpdate);
    QVERIFY(f.outbox->selectedRows().isEmpty());
    QTest::keyClick(tree, Qt::Key_Delete);
    QVERIFY(f.questions.isEmpty());
    QCOMPARE(f.data->outboxList->count(), 4);
    // With Ctrl the key does nothing either; selected and plain, it deletes.
    Fixture::select(f.outbox, {2});
    QTest::keyClick(tree, Qt::Key_Delete, Qt::ControlModifier);
    QVERIFY(f.questions.isEmpty());
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.data->outboxList->count(), 3);
}

void TestUiMessages::resendTwoSentMessages() {
    Fixture f;
    f.fill(*f.data->sentList, 3, MessageStatus::Sent);
    for (int i = 0; i < 3; ++i) {
        Message sent = f.data->sentList->get(i);
        sent.sent = sent.created + 0.01;
        sent.flash = 1;
        // Sent in three parts with reference 9.
        sent.isLong = 1;
        sent.acceptedParts = 0b111;
        sent.partReference = 9;
        f.data->sentList->put(i, sent);
    }
    f.sent->refreshList();
    Fixture::select(f.sent, {0, 2});
    const double before = oleNow();
    f.sent->resendAction->trigger();

    QCOMPARE(f.data->sentList->count(), 3);
    QCOMPARE(f.data->outboxList->count(), 2);
    for (int i = 0; i < 2; ++i) {
        const Message copy = f.data->outboxList->get(i);
        const Message original = f.data->sentList->get(i * 2);
        QCOMPARE(copy.status, MessageStatus::Pending);
        QCOMPARE(copy.sent, 0.0);
        QVERIFY(copy.created >= before - 1e-6);
        QCOMPARE(copy.number, original.number);
        QCOMPARE(copy.text, original.text);
        QCOMPARE(copy.flash, quint8(1));
        QCOMPARE(copy.isLong, quint8(1));
        // A new message: none of its parts sent, its reference still to be taken.
        QCOMPARE(copy.acceptedParts, quint16(0));
        QCOMPARE(copy.partReference, qint16(-1));
    }
    QCOMPARE(f.outbox->model()->rowCount(), 2);
    QCOMPARE(f.host->lastShown(), static_cast<QWidget *>(f.outbox));
}

void TestUiMessages::resendInOutboxDuplicates() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    Fixture::select(f.outbox, {1, 2});
    f.outbox->resendAction->trigger();
    QCOMPARE(Fixture::texts(*f.data->outboxList),
             (QStringList{QStringLiteral("message 1"), QStringLiteral("message 2"),
                          QStringLiteral("message 3"), QStringLiteral("message 2"),
                          QStringLiteral("message 3")}));
    // Nothing selected: nothing added, no view switch.
    f.host->shown.clear();
    f.outbox->listView()->clearSelection();
    f.outbox->resendAction->setEnabled(true);
    f.outbox->resendAction->trigger();
    QCOMPARE(f.data->outboxList->count(), 5);
    QVERIFY(f.host->shown.isEmpty());
}

void TestUiMessages::forwardUsesFirstSelectedRow() {
    Fixture f;
    f.fill(*f.data->sentList, 5, MessageStatus::Sent);
    f.sent->refreshList();
    f.host->composeView()->setRecipients("kept");
    Fixture::select(f.sent, {3, 1, 4});
    f.sent->forwardAction->trigger();
    QCOMPARE(f.host->composeView()->bodyText(), QStringLiteral("message 2"));
    QCOMPARE(f.host->composeView()->toCombo->currentText(), QStringLiteral("kept"));
    QCOMPARE(f.host->lastShown(), static_cast<QWidget *>(f.host->composeView()));
}

void TestUiMessages::selectAllSelectsEveryRow() {
    Fixture f;
    f.fill(*f.data->outboxList, 7);
    f.outbox->refreshList();
    f.outbox->selectAllAction->trigger();
    QCOMPARE(f.outbox->selectedRows(), (QList<int>{0, 1, 2, 3, 4, 5, 6}));
}

void TestUiMessages::headerClickKeepsOrder() {
    Fixture f;
    for (int i = 1; i <= 3; ++i) {
        Message message = makeMessage(i, MessageStatus::Sent);
        message.sent = dateTimeToOle(QDateTime(QDate(2024, 1, 10 - i), QTime(12, 0)));
        f.data->sentList->add(message);
    }
    f.sent->refreshList();
    f.sent->show();
    QHeaderView *header = f.sent->listView()->horizontalHeader();
    const int x = header->sectionViewportPosition(MessageModel::SentColumn) + 20;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(x, header->height() / 2));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(x, header->height() / 2));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(Fixture::cell(f.sent, row, MessageModel::MessageColumn),
                 QStringLiteral("message %1").arg(row + 1));
    QVERIFY(!f.sent->listView()->isSortingEnabled());
}

void TestUiMessages::copyPutsRowsOnClipboard() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    Fixture::select(f.outbox, {0, 2});
    QApplication::clipboard()->clear();
    QTest::keyClick(f.outbox->listView(), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(QStringLiteral("+491701001\tmessage 1\t")));
    QVERIFY(lines[1].startsWith(QStringLiteral("+491701003\tmessage 3\t")));
    // Cut copies and leaves the list alone.
    QApplication::clipboard()->clear();
    QTest::keyClick(f.outbox->listView(), Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text().split(QLatin1Char('\n')).size(), 2);
    QCOMPARE(f.data->outboxList->count(), 3);
}

void TestUiMessages::addMessageAddsOneRow() {
    Fixture f;
    f.data->modified = false;
    QCOMPARE(f.outbox->addMessage(makeMessage(1)), 0);
    QCOMPARE(f.outbox->addMessage(makeMessage(2)), 1);
    QCOMPARE(f.outbox->model()->rowCount(), 2);
    QCOMPARE(f.sent->model()->rowCount(), 0);
    QVERIFY(f.data->modified);
}

void TestUiMessages::addAndResendAnnounceRowsAtTheEnd() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.fill(*f.data->sentList, 2, MessageStatus::Sent);
    f.outbox->refreshList();
    f.sent->refreshList();
    QAbstractItemModelTester tester(f.outbox->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(f.outbox->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(f.outbox->model(), &QAbstractItemModel::modelReset);
    Fixture::select(f.outbox, {1});
    f.outbox->addMessage(makeMessage(4));
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 3);
    QCOMPARE(inserted.at(0).at(2).toInt(), 3);
    Fixture::select(f.sent, {0, 1});
    f.sent->resendAction->trigger();
    QCOMPARE(inserted.size(), 3);
    QCOMPARE(inserted.at(1).at(1).toInt(), 4);
    QCOMPARE(inserted.at(2).at(1).toInt(), 5);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(Fixture::cell(f.outbox, 5, MessageModel::MessageColumn), QStringLiteral("message 2"));
    QCOMPARE(f.outbox->selectedRows(), QList<int>{1});
}

void TestUiMessages::moveSentAnnouncesEachRun_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("sentRows");
    // First and last row of each removal, as announced one after the other.
    QTest::addColumn<QList<int>>("removals");
    QTest::newRow("runs in the middle")
        << 10 << QList<int>{1, 2, 5, 8, 9} << QList<int>{1, 2, 3, 3, 5, 6};
    QTest::newRow("first and last row") << 6 << QList<int>{0, 5} << QList<int>{0, 0, 4, 4};
    QTest::newRow("every other row")
        << 7 << QList<int>{0, 2, 4, 6} << QList<int>{0, 0, 1, 1, 2, 2, 3, 3};
    QTest::newRow("every row") << 4 << QList<int>{0, 1, 2, 3} << QList<int>{0, 3};
    QTest::newRow("none sent") << 4 << QList<int>{} << QList<int>{};
}

void TestUiMessages::moveSentAnnouncesEachRun() {
    QFETCH(int, count);
    QFETCH(QList<int>, sentRows);
    QFETCH(QList<int>, removals);
    Fixture f;
    f.fill(*f.data->outboxList, count);
    f.fill(*f.data->sentList, 1, MessageStatus::Sent);
    {
        MessageList::Locker lock(*f.data->outboxList);
        for (int row : sentRows)
            (*lock)[row]->status = MessageStatus::Sent;
    }
    f.outbox->refreshList();
    f.sent->refreshList();
    MessageModel *model = f.outbox->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester sentTester(f.sent->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
    QStringList keptTexts;
    QList<int> keptRows;
    for (int row = 0; row < count; ++row) {
        if (!sentRows.contains(row)) {
            keptRows << row;
            keptTexts << QStringLiteral("message %1").arg(row + 1);
        }
    }
    // The rows kept stay selected and current on their messages wherever they move to.
    Fixture::select(f.outbox, keptRows);
    if (!keptRows.isEmpty())
        f.outbox->listView()->selectionModel()->setCurrentIndex(model->index(keptRows.last(), 0),
                                                                QItemSelectionModel::NoUpdate);
    // Each run still shows its own messages when it is announced.
    QList<int> announced;
    QStringList leaving;
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [&](const QModelIndex &, int first, int last) {
                announced << first << last;
                for (int row = first; row <= last; ++row)
                    leaving << Fixture::cell(f.outbox, row, MessageModel::MessageColumn);
            });
    QSignalSpy inserted(f.sent->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);

    QCOMPARE(f.outbox->moveSentTo(*f.sent), int(sentRows.size()));

    QCOMPARE(announced, removals);
    QStringList sentTexts;
    for (int row : sentRows)
        sentTexts << QStringLiteral("message %1").arg(row + 1);
    QCOMPARE(leaving, sentTexts);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(model->rowCount(), int(keptRows.size()));
    QCOMPARE(Fixture::texts(*f.data->outboxList), keptTexts);
    for (int row = 0; row < keptTexts.size(); ++row)
        QCOMPARE(Fixture::cell(f.outbox, row, MessageModel::MessageColumn), keptTexts[row]);
    QList<int> allKept;
    for (int row = 0; row < keptTexts.size(); ++row)
        allKept << row;
    QCOMPARE(f.outbox->selectedRows(), allKept);
    if (!keptRows.isEmpty())
        QCOMPARE(f.outbox->listView()->currentIndex().row(), int(keptRows.size()) - 1);
    QCOMPARE(f.sent->model()->rowCount(), 1 + int(sentRows.size()));
    if (sentRows.isEmpty()) {
        QCOMPARE(inserted.size(), 0);
    } else {
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 1);
        QCOMPARE(inserted.at(0).at(2).toInt(), int(sentRows.size()));
        QCOMPARE(Fixture::cell(f.sent, 1, MessageModel::MessageColumn), sentTexts.first());
    }
}

// Retry failed and Retry unknown: in the outbox's context menu, available exactly when the
// outbox holds such a message; the sent folder has neither.
void TestUiMessages::retryActionsFollowStatuses() {
    Fixture f;
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    auto *retryFailed = f.outbox->findChild<QAction *>(QStringLiteral("actRetryFailed"));
    auto *retryUnknown = f.outbox->findChild<QAction *>(QStringLiteral("actRetryUnknown"));
    QVERIFY(retryFailed && retryUnknown);
    QVERIFY(f.outbox->contextMenu->actions().contains(retryFailed));
    QVERIFY(f.outbox->contextMenu->actions().contains(retryUnknown));
    QVERIFY(!f.sent->findChild<QAction *>(QStringLiteral("actRetryFailed")));
    QVERIFY(!f.sent->findChild<QAction *>(QStringLiteral("actRetryUnknown")));
    auto states = [&] {
        f.outbox->updateActions();
        return QList<bool>{retryFailed->isEnabled(), retryUnknown->isEnabled()};
    };
    QCOMPARE(states(), (QList<bool>{false, false}));
    f.data->outboxList->add(makeMessage(4, MessageStatus::Unknown));
    QCOMPARE(states(), (QList<bool>{false, true}));
    f.data->outboxList->add(makeMessage(5, MessageStatus::Failed));
    QCOMPARE(states(), (QList<bool>{true, true}));
    // Neither needs a selection.
    f.outbox->listView()->clearSelection();
    QCOMPARE(states(), (QList<bool>{true, true}));
    retryUnknown->trigger();
    QCOMPARE(states(), (QList<bool>{true, false}));
}

void TestUiMessages::retryPutsBackOnlyItsKind_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<MessageStatus>>("after");
    using S = MessageStatus;
    QTest::newRow("retry failed") << QStringLiteral("actRetryFailed")
                                  << QList<S>{S::Pending, S::Pending, S::Unknown,
                                              S::Sending, S::Pending, S::Sent};
    QTest::newRow("retry unknown")
        << QStringLiteral("actRetryUnknown")
        << QList<S>{S::Pending, S::Failed, S::Pending, S::Sending, S::Failed, S::Sent};
}

void TestUiMessages::retryPutsBackOnlyItsKind() {
    QFETCH(QString, action);
    QFETCH(QList<MessageStatus>, after);
    Fixture f;
    using S = MessageStatus;
    const QList<S> before = {S::Pending, S::Failed, S::Unknown, S::Sending, S::Failed, S::Sent};
    for (int i = 0; i < before.size(); ++i) {
        Message message = makeMessage(i, before[i]);
        if (before[i] == S::Failed || before[i] == S::Unknown) {
            message.reason = QStringLiteral("number not in use");
            message.error = "+CMS ERROR: 1";
        }
        f.data->outboxList->add(message);
    }
    f.outbox->refreshList();
    f.data->modified = false;
    const int refreshes = f.host->refreshes;
    f.outbox->updateActions();
    f.outbox->findChild<QAction *>(action)->trigger();
    for (int i = 0; i < before.size(); ++i) {
        const Message message = f.data->outboxList->get(i);
        QCOMPARE(message.status, after[i]);
        if (before[i] != after[i]) {
            // The reason went with the status: the row's cell and tip are empty again.
            QVERIFY(message.reason.isEmpty() && message.error.isEmpty());
            QVERIFY(f.outbox->model()
                        ->index(i, MessageModel::StatusColumn)
                        .data()
                        .toString()
                        .isEmpty());
        }
    }
    QCOMPARE(f.data->outboxList->count(), before.size());
    QVERIFY(f.data->modified);
    QVERIFY(f.host->refreshes > refreshes);
}

void TestUiMessages::toolBarHasResendForwardDelete() {
    Fixture f;
    auto *bar = f.outbox->findChild<QToolBar *>(QStringLiteral("toolBar"));
    QVERIFY(bar);
    QCOMPARE(bar, f.outbox->toolBar);
    QStringList names;
    for (QAction *action : bar->actions())
        names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
    QCOMPARE(names, (QStringList{"actResend", "actForward", "-", "actDelete"}));
    f.fill(*f.data->outboxList, 3);
    f.outbox->refreshList();
    auto *deleteButton = qobject_cast<QToolButton *>(bar->widgetForAction(f.outbox->deleteAction));
    QVERIFY(deleteButton);
    QVERIFY(!deleteButton->isEnabled());
    Fixture::select(f.outbox, {1});
    QVERIFY(deleteButton->isEnabled());
    QTest::mouseClick(deleteButton, Qt::LeftButton);
    QCOMPARE(f.questions, QStringList{QStringLiteral(
                              "Are you sure you want to delete the selected message(s) ?")});
    QCOMPARE(Fixture::texts(*f.data->outboxList),
             (QStringList{QStringLiteral("message 1"), QStringLiteral("message 3")}));
    // Resend from the sent folder's own bar.
    f.fill(*f.data->sentList, 1, MessageStatus::Sent);
    f.sent->refreshList();
    Fixture::select(f.sent, {0});
    auto *sentBar = f.sent->findChild<QToolBar *>(QStringLiteral("toolBar"));
    QTest::mouseClick(sentBar->widgetForAction(f.sent->resendAction), Qt::LeftButton);
    QCOMPARE(f.data->outboxList->count(), 3);
}

void TestUiMessages::messageColumnStretches() {
    Fixture f;
    f.fill(*f.data->outboxList, 2);
    f.outbox->refreshList();
    QHeaderView *header = f.outbox->listView()->horizontalHeader();
    f.outbox->resize(700, 400);
    QCoreApplication::processEvents();
    const int to = header->sectionSize(MessageModel::ToColumn);
    const int message = header->sectionSize(MessageModel::MessageColumn);
    f.outbox->resize(1000, 400);
    QCoreApplication::processEvents();
    QCOMPARE(header->sectionSize(MessageModel::MessageColumn), message + 300);
    QCOMPARE(header->sectionSize(MessageModel::ToColumn), to);
    // Widening To takes from Message; the user's width is noted.
    header->resizeSection(MessageModel::ToColumn, to + 50);
    QCOMPARE(header->sectionSize(MessageModel::MessageColumn), message + 250);
    QVERIFY(f.outbox->columnWidths()->isUserSet(MessageModel::ToColumn));
    QVERIFY(!f.outbox->columnWidths()->isUserSet(MessageModel::MessageColumn));
}

void TestUiMessages::toColumnFitsScreenfulOnly() {
    Fixture f;
    // 20,000 rows: the first is short, a long number sits far below the screen.
    for (int i = 0; i < 20000; ++i) {
        Message message = makeMessage(i, MessageStatus::Sent);
        message.number = i == 19999 ? QByteArray(60, '9') : QByteArray("+4915112345678");
        f.data->sentList->add(message);
    }
    f.sent->refreshList();
    f.outbox->hide();
    f.sent->show();
    QHeaderView *header = f.sent->listView()->horizontalHeader();
    const QFontMetrics metrics = f.sent->listView()->fontMetrics();
    const int width = header->sectionSize(MessageModel::ToColumn);
    QVERIFY(width >= metrics.horizontalAdvance(QStringLiteral("+4915112345678")));
    QVERIFY(width < metrics.horizontalAdvance(QString(60, QLatin1Char('9'))));
    // Fitted once: later rows change nothing.
    f.sent->hide();
    f.sent->show();
    QCOMPARE(header->sectionSize(MessageModel::ToColumn), width);
}

void TestUiMessages::cutCellShowsWholeTextAsTip() {
    Fixture f;
    Message message = makeMessage(1);
    message.text = QStringLiteral("A long text that the Message column cannot show in full: ") +
                   QString(200, QLatin1Char('x'));
    f.data->outboxList->add(message);
    Message failed = makeMessage(2, MessageStatus::Failed);
    failed.reason = QStringLiteral("refused by the network");
    f.data->outboxList->add(failed);
    f.outbox->refreshList();
    f.outbox->resize(600, 300);
    QCoreApplication::processEvents();
    QTableView *view = f.outbox->listView();
    const auto tipAt = [view](int row, int column) {
        // A tip hides after a moment: gone before the next is asked for.
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
            return QStringLiteral("<tip stays>");
        const QPoint at = view->visualRect(view->model()->index(row, column)).center();
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tipAt(0, MessageModel::MessageColumn), message.text);
    // A cell shown in full has no tip; a failed row keeps its reason as the tip.
    QCOMPARE(tipAt(0, MessageModel::ToColumn), QString());
    QCOMPARE(tipAt(1, MessageModel::ToColumn), QStringLiteral("Failed: refused by the network"));
    QCOMPARE(tipAt(1, MessageModel::MessageColumn),
             QStringLiteral("Failed: refused by the network"));
    QToolTip::hideText();
}

QTEST_MAIN(TestUiMessages)
#include "tst_ui_messages.moc"
