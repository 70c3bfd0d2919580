// The main window as people expect a window to behave: the explorer's highlight follows the view
// on screen however it was chosen, choosing a view never resizes the window, message boxes carry
// their own titles, an import updates the counts and the caption at once, the To box's entry
// survives a save and an open, and column widths are kept.

#include "app/IniFile.h"
#include "base/OleDate.h"
#include "support/MainWindowFixture.h"
#include "support/TestFiles.h"
#include "ui/ColumnWidths.h"
#include "ui/ComposeView.h"
#include "ui/ContactModel.h"
#include "ui/ContactsView.h"
#include "ui/ExplorerModel.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

namespace {

using Fixture = MainWindowFixture;

// The window on a phone port that does not exist: the phone view's probe ends at once.
MainWindow *openWindow(Fixture &f) {
    f.data->settings->setSessionPort(f.filePath(QStringLiteral("no-phone")).toLocal8Bit());
    return f.createWindow();
}

int selectedNode(MainWindow *window) {
    const QModelIndexList rows = window->explorer->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

QWidget *nodeView(MainWindow *window, int node) {
    return window->explorerModel->nodeAt(node).view;
}

void clickNode(MainWindow *window, int node) {
    const QRect rect = window->explorer->visualRect(window->explorerModel->index(node, 0));
    QTest::mouseClick(window->explorer->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

Contact makeContact(int i, bool checked) {
    Contact contact;
    contact.name = QStringLiteral("Contact %1").arg(i);
    contact.number = QByteArray::number(7770000 + i);
    contact.checked = checked ? 1 : 0;
    return contact;
}

// Answers the next modal message box with its first button, noting its title.
void answerNextBox(QStringList &titles) {
    QTimer::singleShot(0, [&titles] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            titles << QStringLiteral("<no box>");
            return;
        }
        titles << box->windowTitle();
        box->buttons().first()->click();
    });
}

} // namespace

class TestUiWindowBehaviour : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void highlightFollowsViewMenu_data();
    void highlightFollowsViewMenu();
    void clickAfterMenuSwitchWorks();
    void highlightFollowsKeyboard();
    void highlightFollowsSendToOutbox();
    void choosingViewsKeepsWindowSize_data();
    void choosingViewsKeepsWindowSize();
    void messageBoxesCarryTheirOwnTitles();
    void importUpdatesCountsAndCaption();
    void toChoiceSurvivesSaveAndOpen();
    void columnWidthsKeptInSettings();
    void normalUsePrintsNothing();
};

void TestUiWindowBehaviour::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiWindowBehaviour::init() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiWindowBehaviour::highlightFollowsViewMenu_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("node");
    QTest::newRow("contacts") << QStringLiteral("actViewContacts")
                              << int(ExplorerModel::ContactsNode);
    QTest::newRow("outbox") << QStringLiteral("actViewOutbox") << int(ExplorerModel::OutboxNode);
    QTest::newRow("phone") << QStringLiteral("actViewPhone") << int(ExplorerModel::PhoneNode);
    QTest::newRow("sent") << QStringLiteral("actViewSent") << int(ExplorerModel::SentNode);
}

void TestUiWindowBehaviour::highlightFollowsViewMenu() {
    QFETCH(QString, action);
    QFETCH(int, node);
    Fixture f;
    MainWindow *w = openWindow(f);
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
    w->findChild<QAction *>(action)->trigger();
    QCOMPARE(w->currentView(), nodeView(w, node));
    QCOMPARE(selectedNode(w), node);
    QCOMPARE(w->explorer->currentIndex().row(), node);
    w->viewComposeAction->trigger();
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
}

void TestUiWindowBehaviour::clickAfterMenuSwitchWorks() {
    Fixture f;
    MainWindow *w = openWindow(f);
    // The folder highlighted before the menu switch is clicked: its view comes back.
    w->viewSentAction->trigger();
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->sentView()));
    clickNode(w, ExplorerModel::ComposeNode);
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->composeView()));
    QVERIFY(w->composeView()->isVisible());
    QVERIFY(!w->sentView()->isVisible());
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
}

void TestUiWindowBehaviour::highlightFollowsKeyboard() {
    Fixture f;
    MainWindow *w = openWindow(f);
    w->explorer->setFocus();
    QTest::keyClick(w->explorer, Qt::Key_Down);
    QCOMPARE(selectedNode(w), int(ExplorerModel::ContactsNode));
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->contactsView()));
    QTest::keyClick(w->explorer, Qt::Key_End);
    QCOMPARE(selectedNode(w), int(ExplorerModel::SentNode));
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->sentView()));
    // The menu moves the highlight; the keys go on from there.
    w->viewOutboxAction->trigger();
    QTest::keyClick(w->explorer, Qt::Key_Up);
    QCOMPARE(selectedNode(w), int(ExplorerModel::ContactsNode));
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->contactsView()));
}

void TestUiWindowBehaviour::highlightFollowsSendToOutbox() {
    Fixture f;
    MainWindow *w = openWindow(f);
    // Chosen from the menu, so that only the view on screen says Compose.
    w->viewSentAction->trigger();
    w->viewComposeAction->trigger();
    ComposeView *compose = w->composeView();
    compose->setRecipients("5550100");
    compose->setBody(QStringLiteral("hello"));
    compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->outboxView()));
    QCOMPARE(selectedNode(w), int(ExplorerModel::OutboxNode));
    // Forward goes back to Compose, highlight and all.
    w->outboxView()->listView()->selectRow(0);
    w->outboxView()->forwardAction->trigger();
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
}

void TestUiWindowBehaviour::choosingViewsKeepsWindowSize_data() {
    QTest::addColumn<bool>("atMinimum");
    QTest::newRow("default size") << false;
    QTest::newRow("minimum size") << true;
}

void TestUiWindowBehaviour::choosingViewsKeepsWindowSize() {
    QFETCH(bool, atMinimum);
    Fixture f;
    MainWindow *w = openWindow(f);
    if (atMinimum) {
        w->resize(1, 1);
        QTest::qWait(20);
    }
    const QSize before = w->size();
    const QSize minimum = w->minimumSize();
    for (QAction *view : {w->viewContactsAction, w->viewOutboxAction, w->viewPhoneAction,
                          w->viewSentAction, w->viewComposeAction, w->viewContactsAction}) {
        view->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(w->size(), before);
        QCOMPARE(w->minimumSize(), minimum);
        // The view still fills the pane.
        QCOMPARE(w->currentView()->geometry(), w->rightPanel->rect());
    }
}

void TestUiWindowBehaviour::messageBoxesCarryTheirOwnTitles() {
    Fixture f;
    MainWindow *w = openWindow(f);
    f.data->outboxList->add(Message{});
    w->refreshAll();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    // The desktop adds the application's display name to every window's title: it must not be
    // the main caption.
    QVERIFY(!QGuiApplication::applicationDisplayName().contains(QStringLiteral("Untitled")));

    // Real boxes, not the test's answers.
    dialogHooks() = DialogHooks();
    QStringList titles;
    const struct {
        MessageKind kind;
        const char *title;
    } kinds[] = {{MessageKind::Confirm, "Confirm"},
                 {MessageKind::Error, "Error"},
                 {MessageKind::Information, "Information"},
                 {MessageKind::Warning, "Warning"}};
    for (const auto &kind : kinds) {
        answerNextBox(titles);
        messageDlg(QStringLiteral("text"), kind.kind, QMessageBox::Ok);
        QCOMPARE(titles.last(), QLatin1StringView(kind.title));
    }
    // The general error box carries the caption.
    answerNextBox(titles);
    showErrorMessage(QStringLiteral("Broken"));
    QCOMPARE(titles.last(), QStringLiteral("Untitled* - Pelorvane"));
}

void TestUiWindowBehaviour::importUpdatesCountsAndCaption() {
    Fixture f;
    MainWindow *w = openWindow(f);
    const QString path = f.filePath(QStringLiteral("club.csv"));
    writeAll(path, "\"Anna\",\"+4915112345678\",0\r\n\"Ben\",\"+4915112345679\",0\r\n");
    f.fileNames << path;
    f.answers << QMessageBox::Ok;
    w->importContactsAction->trigger();
    QCOMPARE(f.data->contactList->count(), 2);
    QCOMPARE(w->explorerModel->index(ExplorerModel::ContactsNode, 0)
                 .data(ExplorerModel::ExtraTextRole)
                 .toString(),
             QStringLiteral("(2)"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    // The compose view on screen counts the new contacts in its entries.
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->composeView()));
    QCOMPARE(w->composeView()->toCombo->itemText(0), QStringLiteral("All contacts (2)"));
}

void TestUiWindowBehaviour::toChoiceSurvivesSaveAndOpen() {
    Fixture f;
    MainWindow *w = openWindow(f);
    for (int i = 1; i <= 7; ++i)
        f.data->contactList->add(makeContact(i, i <= 3));
    w->refreshAll();
    ComposeView *compose = w->composeView();
    compose->toCombo->showPopup();
    compose->toCombo->hidePopup();
    compose->toCombo->setCurrentIndex(1);
    QCOMPARE(compose->toCombo->currentText(), QStringLiteral("Checked contacts (3)"));
    compose->setBody(QStringLiteral("Meeting moved"));
    const QString path = f.filePath(QStringLiteral("club.sms"));
    f.fileNames << path;
    w->saveAction->trigger();

    // Another program opens it: the entry, not a number called "Checked contacts (3)".
    f.endProgram();
    f.createData();
    w = openWindow(f);
    f.fileNames << path;
    w->openAction->trigger();
    compose = w->composeView();
    QCOMPARE(compose->toCombo->choice(), RecipientChoice::CheckedContacts);
    QCOMPARE(compose->toCombo->currentText(), QStringLiteral("Checked contacts (3)"));
    // The count follows the checks, live.
    w->showView(w->contactsView());
    w->contactsView()->listView->selectionModel()->select(w->contactsView()->model->index(6, 0),
                                                          QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    w->contactsView()->checkAction->trigger();
    w->showView(compose);
    QCOMPARE(compose->toCombo->currentText(), QStringLiteral("Checked contacts (4)"));
    compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 4);
    QCOMPARE(f.data->outboxList->get(3).number, QByteArray("7770007"));
    QVERIFY(f.questions.isEmpty());
}

void TestUiWindowBehaviour::columnWidthsKeptInSettings() {
    Fixture f;
    MainWindow *w = openWindow(f);
    Message message;
    message.number = "+491511234567890";
    message.text = QStringLiteral("hello");
    f.data->outboxList->add(message);
    w->showView(w->outboxView());
    QHeaderView *header = w->outboxView()->listView()->horizontalHeader();
    // Fitted to the number on first show.
    const int fitted = header->sectionSize(MessageModel::ToColumn);
    QVERIFY(fitted >= w->outboxView()->listView()->fontMetrics().horizontalAdvance(
                          QStringLiteral("+491511234567890")));
    QVERIFY(!w->outboxView()->columnWidths()->isUserSet(MessageModel::ToColumn));
    // The user drags the divider.
    header->resizeSection(MessageModel::ToColumn, 171);
    QVERIFY(w->outboxView()->columnWidths()->isUserSet(MessageModel::ToColumn));
    f.endProgram();
    QCOMPARE(IniFile(f.iniPath())
                 .readInteger(QLatin1StringView(MainWindow::LayoutSection),
                              QStringLiteral("Outbox_To_Width"), -1),
             171);
    QCOMPARE(IniFile(f.iniPath())
                 .readInteger(QLatin1StringView(MainWindow::LayoutSection),
                              QStringLiteral("Sent_To_Width"), -1),
             -1);

    f.createData();
    w = openWindow(f);
    w->showView(w->outboxView());
    QCOMPARE(w->outboxView()->listView()->horizontalHeader()->sectionSize(MessageModel::ToColumn),
             171);
}

void TestUiWindowBehaviour::normalUsePrintsNothing() {
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QTextCursor|out of range|QLayout")));
    Fixture f;
    MainWindow *w = openWindow(f);
    for (int i = 1; i <= 3; ++i)
        f.data->contactList->add(makeContact(i, true));
    for (QAction *view : {w->viewContactsAction, w->viewOutboxAction, w->viewPhoneAction,
                          w->viewSentAction, w->viewComposeAction}) {
        view->trigger();
        QCoreApplication::processEvents();
    }
    ComposeView *compose = w->composeView();
    compose->bodyEdit->setFocus();
    for (int i = 0; i < 165; ++i)
        QTest::keyClick(compose->bodyEdit, Qt::Key_A, Qt::NoModifier);
    QCOMPARE(compose->bodyText().size(), 160);
    compose->setBody(QString(400, QLatin1Char('z')));
    compose->setRecipients("5550100");
    compose->sendToOutboxButton->click();
    QCOMPARE(f.data->outboxList->count(), 1);
}

QTEST_MAIN(TestUiWindowBehaviour)
#include "tst_ui_window_behaviour.moc"
