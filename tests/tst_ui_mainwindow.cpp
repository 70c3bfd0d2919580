// The main window on real widgets: its parts, captions and actions, the explorer and view
// switching, the project commands and the close question, the stored layout, and a project
// opened from the command line.

#include "app/IniFile.h"
#include "app/ProjectJournal.h"
#include "base/OleDate.h"
#include "support/MainWindowFixture.h"
#include "support/TestFiles.h"
#include "ui/ComposeView.h"
#include "ui/ContactsView.h"
#include "ui/ExplorerModel.h"
#include "ui/IdleHook.h"
#include "ui/MessageModel.h"
#include "ui/MessagesView.h"
#include "ui/PhoneView.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMovie>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

namespace {

using Fixture = MainWindowFixture;

Message makeMessage(int i) {
    Message message;
    message.number = QByteArray::number(5550000 + i);
    message.text = QStringLiteral("text %1").arg(i);
    message.created = oleNow();
    return message;
}

Contact makeContact(int i) {
    Contact contact;
    contact.name = QStringLiteral("Contact %1").arg(i);
    contact.number = QByteArray::number(7770000 + i);
    return contact;
}

QString nodeExtra(MainWindow *window, int node) {
    return window->explorerModel->index(node, 0).data(ExplorerModel::ExtraTextRole).toString();
}

int selectedNode(MainWindow *window) {
    const QModelIndexList rows = window->explorer->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

QStringList menuTexts(QMenu *menu) {
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Pixels painted in pure blue, the colour of the explorer's second texts.
int bluePixels(QWidget *widget) {
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > 200 && c.red() < 80 && c.green() < 80)
                ++count;
        }
    }
    return count;
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestUiMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void partsOfTheWindow();
    void menusAndActions();
    void captionFollowsProject();
    void explorerNodes();
    void explorerCounts_data();
    void explorerCounts();
    void explorerCountsPaintedBlue();
    void explorerChoosesView();
    void showViewSelectsNode();
    void viewMenuMovesExplorerHighlight();
    void composeToFillsTheToBox();
    void explorerToggle();
    void explorerHiddenAcrossRestart();
    void layoutWrittenOnClose();
    void layoutRead_data();
    void layoutRead();
    void layoutKeepsSettingSection();
    void longToggleKeptWithTheLayout();
    void idleUpdateRestoresActionStates();

    void newAsksToSave_data();
    void newAsksToSave();
    void saveAndOpenRoundTrip();
    void openCancelledAtQuestion();
    void openInvalidFileShowsError();
    void projectHeldByWindowIsRefusedToOthers();
    void unsavedUntitledProjectOfferedAtStart();
    void closeUnmodifiedAsksNothing();
    void closeQuestionCancelKeepsWindow();
    void closeQuestionYesThenCancelledSave();
    void closeQuestionYesSaves();
    void commandLineProject();
    void commandLineBadProject();
    void importExportRunContactActions();
    void aboutBox();
};

void TestUiMainWindow::initTestCase() {
    Q_INIT_RESOURCE(resources);
}

void TestUiMainWindow::init() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestUiMainWindow::partsOfTheWindow() {
    Fixture f;
    MainWindow *w = f.createWindow();
    QCOMPARE(w->objectName(), QStringLiteral("frmPelorvane"));
    QCOMPARE(w->size(), QSize(610, 593));
    QCOMPARE(w->startButton->size(), QSize(107, 54));
    QCOMPARE(w->startButton->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    QCOMPARE(w->startButton->defaultAction(), w->startAction);
    QCOMPARE(w->mainToolBar->height(), 62);
    QVERIFY(w->activityClip->isValid());
    QCOMPARE(w->activityClip->frameCount(), 9);
    QVERIFY(w->activityClip->state() != QMovie::Running);
    QCOMPARE(w->findChild<QWidget *>(QStringLiteral("activityPanel"))->size(), QSize(62, 62));
    QCOMPARE(w->explorerPanel->width(), 137);
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("explorerLabel"))->text(),
             QStringLiteral("Explorer:"));
    QCOMPARE(w->findChild<QWidget *>(QStringLiteral("explorerHeader"))->height(), 21);
    QCOMPARE(w->splitter->handleWidth(), 4);
    QVERIFY(w->explorer->isHeaderHidden());
    QCOMPARE(w->explorer->indentation(), 0);
    QCOMPARE(w->phoneStatusLabel->width(), 80);
    // The first panel takes whatever the bar's width leaves beside the second one.
    const int firstWidth = w->statusLabel->width();
    w->resize(w->width() + 100, w->height());
    QTRY_COMPARE(w->statusLabel->width(), firstWidth + 100);
    QCOMPARE(w->phoneStatusLabel->width(), 80);
    w->resize(610, 593);
    QCOMPARE(w->statusText(), QString());
    // The compose view is shown first, filling the right-hand pane.
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->composeView()));
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
    QCOMPARE(w->composeView()->parentWidget(), w->rightPanel);
    QCOMPARE(w->composeView()->geometry(), w->rightPanel->rect());
    QVERIFY(!w->outboxView()->isVisible());
    QVERIFY(!w->sentView()->isVisible());
}

void TestUiMainWindow::menusAndActions() {
    Fixture f;
    MainWindow *w = f.createWindow();
    const QList<QAction *> menus = w->menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&View"));
    QCOMPARE(menus[2]->text(), QStringLiteral("&Help"));
    QCOMPARE(menuTexts(menus[0]->menu()),
             (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "-", "Import Contacts...",
                          "Export Contacts...", "-", "E&xit"}));
    QCOMPARE(menuTexts(menus[1]->menu()), (QStringList{"&Folder Explorer", "-", "Co&mpose",
                                                       "Co&ntacts", "Ou&tbox", "P&hone", "&Sent"}));
    QCOMPARE(menuTexts(menus[2]->menu()), QStringList{"&About"});
    QCOMPARE(w->openAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(w->saveAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(w->startAction->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(w->stopAction->shortcut(), QKeySequence(QStringLiteral("Shift+F5")));
    QCOMPARE(w->startAction->text(), QStringLiteral("Start"));
    QCOMPARE(w->stopAction->text(), QStringLiteral("Stop"));
    for (QAction *action : {w->openAction, w->exitAction, w->viewComposeAction,
                            w->viewContactsAction, w->viewOutboxAction, w->viewPhoneAction,
                            w->viewSentAction, w->startAction, w->stopAction})
        QVERIFY2(!action->icon().isNull(), qPrintable(action->objectName()));
    QVERIFY(w->viewExplorerAction->isCheckable());
    QVERIFY(w->viewExplorerAction->isChecked());
    QVERIFY(w->startAction->isEnabled());
    QVERIFY(!w->stopAction->isEnabled());
}

void TestUiMainWindow::captionFollowsProject() {
    Fixture f;
    MainWindow *w = f.createWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QCOMPARE(applicationTitle(), QStringLiteral("Untitled - Pelorvane"));
    f.data->outboxList->add(makeMessage(1));
    // The modified mark comes with the next refresh.
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    w->refreshAll();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    f.fileNames << f.filePath(QStringLiteral("first.sms"));
    w->saveAction->trigger();
    QCOMPARE(w->windowTitle(), QStringLiteral("first.sms - Pelorvane"));
    QCOMPARE(applicationTitle(), QStringLiteral("first.sms - Pelorvane"));
    QVERIFY(QFile::exists(f.filePath(QStringLiteral("first.sms"))));
}

void TestUiMainWindow::explorerNodes() {
    Fixture f;
    MainWindow *w = f.createWindow();
    ExplorerModel *model = w->explorerModel;
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 5);
    const QStringList captions = {"Compose", "Contacts", "Outbox", "Phone", "Sent"};
    QList<QWidget *> views = {w->composeView(), w->contactsView(), w->outboxView(), w->phoneView(),
                              w->sentView()};
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(model->index(row, 0).data().toString(), captions[row]);
        QVERIFY(!model->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model->nodeAt(row).view, views[row]);
        QVERIFY(!static_cast<QAbstractItemModel *>(model)->hasChildren(model->index(row, 0)));
    }
    QCOMPARE(w->outboxView()->titleLabel->text(), QStringLiteral("Outbox"));
    QCOMPARE(w->sentView()->titleLabel->text(), QStringLiteral("Sent"));
    // Each accessor gives the same view every time.
    QCOMPARE(w->outboxView(), w->outboxView());
    QCOMPARE(model->nodeAt(7).caption, QString());
    QCOMPARE(model->nodeAt(7).view, nullptr);
}

void TestUiMainWindow::explorerCounts_data() {
    QTest::addColumn<int>("contacts");
    QTest::addColumn<int>("outbox");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("empty folders show nothing") << 0 << 0 << 0 << QStringList{"", "", "", "", ""};
    QTest::newRow("one of each") << 1 << 1 << 1 << QStringList{"", "(1)", "(1)", "", "(1)"};
    QTest::newRow("thousands separator")
        << 1234 << 999 << 1000 << QStringList{"", "(1,234)", "(999)", "", "(1,000)"};
}

void TestUiMainWindow::explorerCounts() {
    QFETCH(int, contacts);
    QFETCH(int, outbox);
    QFETCH(int, sent);
    QFETCH(QStringList, texts);
    Fixture f;
    MainWindow *w = f.createWindow();
    for (int i = 0; i < contacts; ++i)
        f.data->contactList->add(makeContact(i));
    for (int i = 0; i < outbox; ++i)
        f.data->outboxList->add(makeMessage(i));
    for (int i = 0; i < sent; ++i)
        f.data->sentList->add(makeMessage(i));
    w->refreshAll();
    for (int node = 0; node < 5; ++node)
        QCOMPARE(nodeExtra(w, node), texts[node]);
    QCOMPARE(w->outboxView()->model()->rowCount(), outbox);
    QCOMPARE(w->sentView()->model()->rowCount(), sent);
}

void TestUiMainWindow::explorerCountsPaintedBlue() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->showView(w->composeView());
    QCOMPARE(bluePixels(w->explorer->viewport()), 0);
    for (int i = 0; i < 1234; ++i)
        f.data->contactList->add(makeContact(i));
    w->refreshAll();
    QVERIFY(bluePixels(w->explorer->viewport()) > 10);
}

void TestUiMainWindow::explorerChoosesView() {
    Fixture f;
    MainWindow *w = f.createWindow();
    const QRect sentRect =
        w->explorer->visualRect(w->explorerModel->index(ExplorerModel::SentNode, 0));
    QTest::mouseClick(w->explorer->viewport(), Qt::LeftButton, Qt::NoModifier, sentRect.center());
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->sentView()));
    QVERIFY(w->sentView()->isVisible());
    QVERIFY(!w->composeView()->isVisible());
    QCOMPARE(w->sentView()->geometry(), w->rightPanel->rect());
}

void TestUiMainWindow::showViewSelectsNode() {
    Fixture f;
    MainWindow *w = f.createWindow();
    f.data->outboxList->add(makeMessage(1));
    w->showView(w->outboxView());
    QCOMPARE(selectedNode(w), int(ExplorerModel::OutboxNode));
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->outboxView()));
    // showView refreshes the whole window.
    QCOMPARE(w->outboxView()->model()->rowCount(), 1);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
}

void TestUiMainWindow::viewMenuMovesExplorerHighlight() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->showView(w->contactsView());
    QCOMPARE(selectedNode(w), int(ExplorerModel::ContactsNode));
    w->viewOutboxAction->trigger();
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->outboxView()));
    QVERIFY(w->outboxView()->isVisible());
    QVERIFY(!w->contactsView()->isVisible());
    // The highlight shows the view on screen.
    QCOMPARE(selectedNode(w), int(ExplorerModel::OutboxNode));
    w->viewSentAction->trigger();
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->sentView()));
    w->viewComposeAction->trigger();
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->composeView()));
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
}

void TestUiMainWindow::composeToFillsTheToBox() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->showView(w->sentView());
    w->composeTo("111;222;");
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->composeView()));
    QCOMPARE(selectedNode(w), int(ExplorerModel::ComposeNode));
    QCOMPARE(w->composeView()->toCombo->currentText(), QStringLiteral("111;222;"));
}

void TestUiMainWindow::explorerToggle() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->hideExplorerButton->click();
    QVERIFY(w->explorerPanel->isHidden());
    QVERIFY(!w->viewExplorerAction->isChecked());
    QTRY_VERIFY(w->splitter->handle(1)->isHidden());
    w->viewExplorerAction->trigger();
    QVERIFY(!w->explorerPanel->isHidden());
    QVERIFY(w->viewExplorerAction->isChecked());
    QTRY_COMPARE(w->explorerPanel->width(), 137);
    // The splitter sits right after the panel.
    QTRY_COMPARE(w->splitter->handle(1)->geometry().left(),
                 w->explorerPanel->geometry().left() + w->explorerPanel->width());
}

void TestUiMainWindow::explorerHiddenAcrossRestart() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->viewExplorerAction->trigger();
    QVERIFY(w->explorerPanel->isHidden());
    f.endProgram();
    const IniFile ini(f.iniPath());
    QCOMPARE(ini.readString("frmPelorvane", "PnlExplorer_Visible", QString()),
             QStringLiteral("FALSE"));
    QCOMPARE(ini.readString("frmPelorvane", "Splitter1_Visible", QString()),
             QStringLiteral("FALSE"));

    f.createData();
    w = f.createWindow();
    QVERIFY(w->explorerPanel->isHidden());
    QVERIFY(!w->viewExplorerAction->isChecked());
    w->viewExplorerAction->trigger();
    QVERIFY(w->explorerPanel->isVisible());
    QCOMPARE(w->explorerPanel->width(), 137);
    QTRY_COMPARE(w->splitter->handle(1)->geometry().left(),
                 w->explorerPanel->geometry().right() + 1);
}

void TestUiMainWindow::layoutWrittenOnClose() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->splitter->setSizes({180, 400});
    const QRect normal = w->geometry();
    QVERIFY(w->close());
    const IniFile ini(f.iniPath());
    const QString section = QStringLiteral("frmPelorvane");
    QCOMPARE(ini.readInteger(section, "FormVersion", -5), 0);
    QCOMPARE(ini.readInteger(section, "ShowCmd", -5), 1);
    QCOMPARE(ini.readInteger(section, "Flags", -5), 0);
    QVERIFY(ini.readInteger(section, "PixelsPerInch", 0) > 0);
    QCOMPARE(ini.readString(section, "MinMaxPos", QString()), QStringLiteral("-1,-1,-1,-1"));
    QCOMPARE(ini.readString(section, "NormPos", QString()),
             QStringLiteral("%1,%2,%3,%4")
                 .arg(normal.left())
                 .arg(normal.top())
                 .arg(normal.left() + normal.width())
                 .arg(normal.top() + normal.height()));
    QCOMPARE(ini.readInteger(section, "PnlExplorer_Width", -1), 180);
    QCOMPARE(ini.readString(section, "PnlExplorer_Visible", QString()), QStringLiteral("TRUE"));
    // Written once: destroying the window later does not touch the file again.
    const QByteArray written = [&] {
        QFile file(f.iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QFile::remove(f.iniPath());
    f.window.reset();
    QVERIFY(!QFile::exists(f.iniPath()));

    // The next start puts the window where it was.
    writeFile(f.iniPath(), written);
    f.data.reset();
    f.createData();
    w = f.createWindow();
    QCOMPARE(w->geometry(), normal);
    QCOMPARE(w->explorerPanel->width(), 180);
}

void TestUiMainWindow::layoutRead_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("explorerVisible");
    QTest::addColumn<int>("explorerWidth");
    QTest::addColumn<bool>("maximized");
    QTest::newRow("placement and width")
        << QByteArray("NormPos=40,50,640,550\nPnlExplorer_Width=200\nPnlExplorer_Visible=yes\n")
        << QRect(40, 50, 600, 500) << true << 200 << false;
    QTest::newRow("off every screen keeps the size only")
        << QByteArray("NormPos=9000,9000,9500,9400\n") << QRect(-1, -1, 500, 400) << true << 137
        << false;
    QTest::newRow("n reads as false") << QByteArray("PnlExplorer_Visible=n\n")
                                      << QRect(-1, -1, 610, 593) << false << 137 << false;
    QTest::newRow("Y reads as true")
        << QByteArray("PnlExplorer_Visible=Y\n") << QRect(-1, -1, 610, 593) << true << 137 << false;
    QTest::newRow("unreadable values leave the design")
        << QByteArray("NormPos=1,2,x,4\nPnlExplorer_Width=wide\nPnlExplorer_Visible=perhaps\n")
        << QRect(-1, -1, 610, 593) << true << 137 << false;
    QTest::newRow("negative version ignores the section")
        << QByteArray("FormVersion=-1\nNormPos=40,50,640,550\nPnlExplorer_Visible=FALSE\n")
        << QRect(-1, -1, 610, 593) << true << 137 << false;
    QTest::newRow("maximised") << QByteArray("ShowCmd=3\nNormPos=40,50,640,550\n")
                               << QRect(-1, -1, -1, -1) << true << -1 << true;
}

void TestUiMainWindow::layoutRead() {
    QFETCH(QByteArray, section);
    QFETCH(QRect, geometry);
    QFETCH(bool, explorerVisible);
    QFETCH(int, explorerWidth);
    QFETCH(bool, maximized);
    Fixture f;
    writeFile(f.iniPath(), "[Setting]\nCOM Port=COM3\n\n[frmPelorvane]\n" + section);
    f.createData();
    MainWindow *w = f.createWindow();
    QCOMPARE(w->isMaximized(), maximized);
    if (geometry.width() > 0)
        QCOMPARE(w->size(), geometry.size());
    if (geometry.x() >= 0)
        QCOMPARE(w->geometry().topLeft(), geometry.topLeft());
    else if (!maximized)
        QVERIFY(w->geometry().x() < 2000 && w->geometry().y() < 2000);
    QCOMPARE(!w->explorerPanel->isHidden(), explorerVisible);
    QCOMPARE(w->viewExplorerAction->isChecked(), explorerVisible);
    if (explorerVisible && explorerWidth >= 0)
        QCOMPARE(w->explorerPanel->width(), explorerWidth);
}

void TestUiMainWindow::layoutKeepsSettingSection() {
    Fixture f;
    writeFile(f.iniPath(), "; comment\n[Setting]\nCOM Port=COM7\n");
    f.createData();
    f.createWindow();
    f.endProgram();
    const IniFile ini(f.iniPath());
    QCOMPARE(ini.readString("Setting", "COM Port", QString()), QStringLiteral("COM7"));
    QVERIFY(ini.sectionExists("frmPelorvane"));
    QFile file(f.iniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("; comment\n[Setting]\nCOM Port=COM7\n"));
}

void TestUiMainWindow::longToggleKeptWithTheLayout() {
    Fixture f;
    MainWindow *w = f.createWindow();
    QVERIFY(!w->composeView()->longButton->isChecked());
    w->composeView()->longButton->click();
    f.endProgram();
    QCOMPARE(IniFile(f.iniPath()).readString("frmPelorvane", "btnLong_Down", QString()),
             QStringLiteral("TRUE"));

    // A project opened before the window first shows (pelorvane club.sms) keeps a long body.
    const QString project = f.filePath(QStringLiteral("long.sms"));
    {
        AppData other(f.iniPath());
        other.compose.body = QString(400, u'x');
        other.onAskFileName = [&] { return project; };
        QVERIFY(other.save());
    }
    f.createData();
    w = f.createWindow(false);
    QVERIFY(w->composeView()->longButton->isChecked());
    w->openProjectFile(project);
    w->show();
    QCOMPARE(w->composeView()->bodyText().size(), 400);
    QCOMPARE(w->composeView()->charsLeftField->text(), QStringLiteral("(400/1000)"));
    // Turned off, the body stays whole and shows over the limit of one SMS.
    w->composeView()->longButton->click();
    QCOMPARE(w->composeView()->bodyText().size(), 400);
    QCOMPARE(w->composeView()->charsLeftField->text(), QStringLiteral("(400/160)"));
    f.endProgram();
    QCOMPARE(IniFile(f.iniPath()).readString("frmPelorvane", "btnLong_Down", QString()),
             QStringLiteral("FALSE"));
}

void TestUiMainWindow::idleUpdateRestoresActionStates() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->stopAction->setEnabled(true);
    w->explorerPanel->hide();
    QVERIFY(w->viewExplorerAction->isChecked());
    IdleHook::instance().request();
    QTRY_VERIFY(!w->stopAction->isEnabled());
    QVERIFY(!w->viewExplorerAction->isChecked());
    // Input also counts as a moment of idle time.
    w->stopAction->setEnabled(true);
    QTest::mouseClick(w->explorer->viewport(), Qt::LeftButton);
    QTRY_VERIFY(!w->stopAction->isEnabled());
}

void TestUiMainWindow::newAsksToSave_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("emptied");
    QTest::addColumn<bool>("saved");
    QTest::newRow("cancel ends the command") << int(QMessageBox::Cancel) << false << false;
    QTest::newRow("no empties without saving") << int(QMessageBox::No) << true << false;
    QTest::newRow("yes saves, then empties") << int(QMessageBox::Yes) << true << true;
}

void TestUiMainWindow::newAsksToSave() {
    QFETCH(int, answer);
    QFETCH(bool, emptied);
    QFETCH(bool, saved);
    Fixture f;
    MainWindow *w = f.createWindow();
    f.data->contactList->add(makeContact(1));
    f.data->outboxList->add(makeMessage(1));
    w->composeView()->setBody(QStringLiteral("kept body"));
    f.answers << QMessageBox::StandardButton(answer);
    f.fileNames << f.filePath(QStringLiteral("before-new.sms"));
    w->newAction->trigger();
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.questions[0].text, QStringLiteral("Save current project ?"));
    QCOMPARE(f.questions[0].kind, MessageKind::Confirm);
    QCOMPARE(f.questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(f.data->outboxList->count(), emptied ? 0 : 1);
    QCOMPARE(f.data->contactList->count(), emptied ? 0 : 1);
    QCOMPARE(QFile::exists(f.filePath(QStringLiteral("before-new.sms"))), saved);
    if (emptied) {
        QVERIFY(!f.data->modified);
        QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
        QCOMPARE(w->outboxView()->model()->rowCount(), 0);
    }
    QCOMPARE(w->composeView()->bodyText(), QStringLiteral("kept body"));
}

void TestUiMainWindow::saveAndOpenRoundTrip() {
    Fixture f;
    MainWindow *w = f.createWindow();
    for (int i = 1; i <= 3; ++i)
        f.data->outboxList->add(makeMessage(i));
    f.data->sentList->add(makeMessage(9));
    f.data->contactList->add(makeContact(1));
    w->composeView()->setRecipients("123;456");
    w->composeView()->subjectEdit->setText(QStringLiteral("Subject"));
    w->composeView()->setBody(QStringLiteral("Body"));
    const QString path = f.filePath(QStringLiteral("round.sms"));
    f.fileNames << path;
    w->saveAsAction->trigger();
    QVERIFY(f.fileDialogs.value(0).startsWith(QStringLiteral("save:Pelorvane Projects (*.sms)")));
    QVERIFY(QFile::exists(path));
    QVERIFY(!f.data->modified);

    w->newAction->trigger();
    QVERIFY(f.questions.isEmpty());
    w->composeView()->clearButton->click();
    f.fileNames << path;
    w->openAction->trigger();
    QCOMPARE(f.fileDialogs.value(1),
             QStringLiteral("open:Pelorvane Project (*.sms)|*.sms|All Files (*.*)|*.*"));
    QCOMPARE(f.data->outboxList->count(), 3);
    QCOMPARE(f.data->sentList->count(), 1);
    QCOMPARE(f.data->contactList->count(), 1);
    QCOMPARE(w->outboxView()->model()->rowCount(), 3);
    QCOMPARE(nodeExtra(w, ExplorerModel::OutboxNode), QStringLiteral("(3)"));
    QCOMPARE(w->composeView()->toCombo->currentText(), QStringLiteral("123;456"));
    QCOMPARE(w->composeView()->subjectEdit->text(), QStringLiteral("Subject"));
    QCOMPARE(w->composeView()->bodyText(), QStringLiteral("Body"));
    QCOMPARE(w->windowTitle(), QStringLiteral("round.sms - Pelorvane"));
}

void TestUiMainWindow::openCancelledAtQuestion() {
    Fixture f;
    MainWindow *w = f.createWindow();
    const QString path = f.filePath(QStringLiteral("other.sms"));
    f.data->outboxList->add(makeMessage(1));
    f.fileNames << path;
    w->saveAsAction->trigger();
    f.data->outboxList->add(makeMessage(2));
    f.fileNames << path;
    f.answers << QMessageBox::Cancel;
    w->openAction->trigger();
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.data->outboxList->count(), 2);
    QVERIFY(f.data->modified);
    // A cancelled open dialog asks nothing at all.
    f.questions.clear();
    w->openAction->trigger();
    QVERIFY(f.questions.isEmpty());
}

void TestUiMainWindow::openInvalidFileShowsError() {
    Fixture f;
    MainWindow *w = f.createWindow();
    const QString path = f.filePath(QStringLiteral("notes.txt"));
    writeFile(path, "just some text");
    f.fileNames << path;
    w->openAction->trigger();
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.questions[0].text, QStringLiteral("Invalid file format."));
    QCOMPARE(f.questions[0].kind, MessageKind::Error);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QVERIFY(w->isVisible());
}

void TestUiMainWindow::projectHeldByWindowIsRefusedToOthers() {
    const QString path = [] {
        static QTemporaryDir dir;
        return dir.filePath(QStringLiteral("club.sms"));
    }();
    {
        AppData other;
        other.outboxList->add(makeMessage(1));
        other.onAskFileName = [&] { return path; };
        QVERIFY(other.save());
    }
    Fixture f;
    f.data->lockHolder = QStringLiteral("pelorvane");
    MainWindow *w = f.createWindow();
    w->openProjectFile(path);
    QCOMPARE(w->windowTitle(), QStringLiteral("club.sms - Pelorvane"));
    const QString inUse = QStringLiteral("club.sms is in use by pelorvane (pid %1)")
                              .arg(QCoreApplication::applicationPid());
    AppData second;
    second.lockHolder = QStringLiteral("pelorvane");
    QCOMPARE(errorMessage([&] { second.load(path); }), inUse);
    // A second window's Open says who has it and keeps its own document.
    Fixture g;
    g.data->lockHolder = QStringLiteral("pelorvane");
    MainWindow *w2 = g.createWindow();
    w2->openProjectFile(path);
    QCOMPARE(g.questions.size(), 1);
    QCOMPARE(g.questions[0].text, inUse);
    QCOMPARE(w2->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    // New in the first window gives the file up.
    w->newAction->trigger();
    second.load(path);
    QCOMPARE(second.outboxList->count(), 1);
}

void TestUiMainWindow::unsavedUntitledProjectOfferedAtStart() {
    // What a program that was sending an untitled project leaves when it is killed.
    auto leaveJournal = [] {
        AppData sending;
        sending.outboxList->add(makeMessage(1));
        sending.outboxList->add(makeMessage(2));
        sending.journal->open(QString(), ProjectIdentity(), [&] {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            sending.saveToDevice(buffer);
            return buffer.data();
        });
        // Taken first: a commit takes the journal's lock before the outbox's.
        const MessageRecord *first = MessageList::Locker(*sending.outboxList)->at(0).get();
        sending.journal->commit(first, [&] {
            MessageList::Locker items(*sending.outboxList);
            (*items)[0]->status = MessageStatus::Sent;
            return (*items)[0]->toMessage();
        });
        const QString left = ProjectJournal::untitledFolder() + QStringLiteral("/left.journal");
        QFile::remove(left);
        QVERIFY(QFile::copy(sending.journal->path(), left));
    };
    leaveJournal();
    {
        Fixture f;
        MainWindow *w = f.createWindow();
        f.answers << QMessageBox::No;
        QVERIFY(!w->offerUnsavedProject());
        QCOMPARE(f.questions.size(), 1);
        QVERIFY(f.questions[0].text.endsWith(
            QStringLiteral("without saving the untitled project it was sending. Open it again?")));
        QCOMPARE(f.data->outboxList->count(), 0);
        // Declined: never offered again.
        QVERIFY(!w->offerUnsavedProject());
        QCOMPARE(f.questions.size(), 1);
    }
    leaveJournal();
    Fixture f;
    MainWindow *w = f.createWindow();
    f.answers << QMessageBox::Yes;
    QVERIFY(w->offerUnsavedProject());
    QCOMPARE(f.data->outboxList->count(), 1);
    QCOMPARE(f.data->sentList->count(), 1);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    QVERIFY(AppData::unsavedUntitledProjects().isEmpty());
}

void TestUiMainWindow::closeUnmodifiedAsksNothing() {
    Fixture f;
    MainWindow *w = f.createWindow();
    w->exitAction->trigger();
    QVERIFY(f.questions.isEmpty());
    QVERIFY(!w->isVisible());
}

void TestUiMainWindow::closeQuestionCancelKeepsWindow() {
    Fixture f;
    MainWindow *w = f.createWindow();
    f.data->outboxList->add(makeMessage(1));
    f.answers << QMessageBox::Cancel;
    QVERIFY(!w->close());
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.questions[0].text, QStringLiteral("Save \"Untitled\" before exit ?"));
    QCOMPARE(f.questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(w->isVisible());
    // The layout is written only once the window may close.
    QVERIFY(!IniFile(f.iniPath()).sectionExists("frmPelorvane"));
}

void TestUiMainWindow::closeQuestionYesThenCancelledSave() {
    Fixture f;
    MainWindow *w = f.createWindow();
    f.data->outboxList->add(makeMessage(1));
    f.answers << QMessageBox::Yes;
    // The save dialog is cancelled: the program closes without saving.
    QVERIFY(w->close());
    QCOMPARE(f.fileDialogs.size(), 1);
    QVERIFY(f.fileDialogs[0].startsWith(QStringLiteral("save:")));
    QVERIFY(!w->isVisible());
    QVERIFY(f.data->fileName.isEmpty());
    QCOMPARE(QDir(f.dir.path()).entryList({QStringLiteral("*.sms")}, QDir::Files).size(), 0);
}

void TestUiMainWindow::closeQuestionYesSaves() {
    Fixture f;
    MainWindow *w = f.createWindow();
    const QString path = f.filePath(QStringLiteral("named.sms"));
    f.data->outboxList->add(makeMessage(1));
    f.fileNames << path;
    w->saveAction->trigger();
    f.data->outboxList->add(makeMessage(2));
    f.answers << QMessageBox::Yes;
    QVERIFY(w->close());
    QCOMPARE(f.questions[0].text, QStringLiteral("Save \"named.sms\" before exit ?"));
    AppData reread(f.filePath(QStringLiteral("other.ini")));
    reread.load(path);
    QCOMPARE(reread.outboxList->count(), 2);
}

void TestUiMainWindow::commandLineProject() {
    Fixture f;
    const QString path = f.filePath(QStringLiteral("start.sms"));
    {
        AppData maker(f.filePath(QStringLiteral("maker.ini")));
        for (int i = 1; i <= 4; ++i)
            maker.outboxList->add(makeMessage(i));
        maker.compose.body = QStringLiteral("from the file");
        maker.onAskFileName = [&] { return path; };
        QVERIFY(maker.save());
    }
    MainWindow *w = f.createWindow(false);
    w->openProjectFile(path);
    QVERIFY(!w->isVisible());
    QCOMPARE(f.data->fileName, path);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->windowTitle(), QStringLiteral("start.sms - Pelorvane"));
    QCOMPARE(w->outboxView()->model()->rowCount(), 4);
    QCOMPARE(nodeExtra(w, ExplorerModel::OutboxNode), QStringLiteral("(4)"));
    QCOMPARE(w->composeView()->bodyText(), QStringLiteral("from the file"));
    QVERIFY(f.questions.isEmpty());
}

void TestUiMainWindow::commandLineBadProject() {
    Fixture f;
    MainWindow *w = f.createWindow(false);
    w->openProjectFile(f.filePath(QStringLiteral("missing.sms")));
    QCOMPARE(f.questions.size(), 1);
    QCOMPARE(f.questions[0].kind, MessageKind::Error);
    QVERIFY(f.questions[0].text.endsWith(QLatin1Char('.')));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
}

void TestUiMainWindow::importExportRunContactActions() {
    Fixture f;
    MainWindow *w = f.createWindow();
    QVERIFY(w->contactsView()->importAction);
    QVERIFY(w->contactsView()->exportAction);
    QSignalSpy imports(w->contactsView()->importAction, &QAction::triggered);
    QSignalSpy exports(w->contactsView()->exportAction, &QAction::triggered);
    w->importContactsAction->trigger();
    w->exportContactsAction->trigger();
    QCOMPARE(imports.count(), 1);
    QCOMPARE(exports.count(), 1);
    // The contacts view need not be shown.
    QCOMPARE(w->currentView(), static_cast<QWidget *>(w->composeView()));
}

void TestUiMainWindow::aboutBox() {
    Fixture f;
    MainWindow *w = f.createWindow();
    QString name;
    QString version;
    bool picture = false;
    QTimer::singleShot(0, [&] {
        auto *about = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!about)
            return;
        name = about->findChild<QLabel *>(QStringLiteral("nameLabel"))->text();
        version = about->findChild<QLabel *>(QStringLiteral("versionLabel"))->text();
        picture = !about->findChild<QLabel *>(QStringLiteral("programImage"))->pixmap().isNull();
        QTest::keyClick(about, Qt::Key_Return);
    });
    w->aboutAction->trigger();
    QCOMPARE(name, QStringLiteral("Pelorvane"));
    QCOMPARE(version, QStringLiteral("Version ") + QLatin1StringView(PELORVANE_VERSION));
    QVERIFY(picture);
}

QTEST_MAIN(TestUiMainWindow)
#include "tst_ui_mainwindow.moc"
