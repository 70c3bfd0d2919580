// The main window on real widgets: its parts, captions and actions, the explorer and view
// switching, the project commands and the close question, the stored layout, and a project
// opened from the command line.

#include "app/IniFile.h"
#include "data/OleDate.h"
#include "support/MainWindowFixture.h"
#include "ui/ComposeForm.h"
#include "ui/ContactForm.h"
#include "ui/ExplorerModel.h"
#include "ui/IdleHook.h"
#include "ui/MessageForm.h"
#include "ui/MessageModel.h"
#include "ui/SettingForm.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
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

using TFixture = TMainWindowFixture;

TMessage MakeMessage(int i) {
    TMessage message;
    message.Number = QByteArray::number(5550000 + i);
    message.Text = QStringLiteral("text %1").arg(i);
    message.Created = OleNow();
    return message;
}

TContact MakeContact(int i) {
    TContact contact;
    contact.Name = QStringLiteral("Contact %1").arg(i);
    contact.Number = QByteArray::number(7770000 + i);
    return contact;
}

QString NodeExtra(TfrmPelorvane *window, int node) {
    return window->ExplorerModel->index(node, 0).data(TExplorerModel::ExtraTextRole).toString();
}

int SelectedNode(TfrmPelorvane *window) {
    const QModelIndexList rows = window->Explorer->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

QStringList MenuTexts(QMenu *menu) {
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Pixels painted in pure blue, the colour of the explorer's second texts.
int BluePixels(QWidget *widget) {
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

void WriteFile(const QString &path, const QByteArray &bytes) {
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
    void viewMenuKeepsExplorerHighlight();
    void composeToFillsTheToBox();
    void explorerToggle();
    void explorerHiddenAcrossRestart();
    void layoutWrittenOnClose();
    void layoutRead_data();
    void layoutRead();
    void layoutKeepsSettingSection();
    void idleUpdateRestoresActionStates();

    void newAsksToSave_data();
    void newAsksToSave();
    void saveAndOpenRoundTrip();
    void openCancelledAtQuestion();
    void openInvalidFileShowsError();
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
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    QCOMPARE(w->objectName(), QStringLiteral("frmPelorvane"));
    QCOMPARE(w->size(), QSize(610, 593));
    QCOMPARE(w->btnStart->size(), QSize(107, 54));
    QCOMPARE(w->btnStart->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    QCOMPARE(w->btnStart->defaultAction(), w->actStart);
    QCOMPARE(w->ToolBar1->height(), 62);
    QVERIFY(w->AnimateClip->isValid());
    QCOMPARE(w->AnimateClip->frameCount(), 9);
    QVERIFY(w->AnimateClip->state() != QMovie::Running);
    QCOMPARE(w->findChild<QWidget *>(QStringLiteral("PnlAnimate"))->size(), QSize(62, 62));
    QCOMPARE(w->PnlExplorer->width(), 137);
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("lblExplorer"))->text(),
             QStringLiteral("Explorer:"));
    QCOMPARE(w->findChild<QWidget *>(QStringLiteral("PnlExplorerHeader"))->height(), 21);
    QCOMPARE(w->Splitter1->handleWidth(), 4);
    QVERIFY(w->Explorer->isHeaderHidden());
    QCOMPARE(w->Explorer->indentation(), 0);
    QCOMPARE(w->StatusPanel2->width(), 80);
    // The first panel takes whatever the bar's width leaves beside the second one.
    const int firstWidth = w->StatusPanel1->width();
    w->resize(w->width() + 100, w->height());
    QTRY_COMPARE(w->StatusPanel1->width(), firstWidth + 100);
    QCOMPARE(w->StatusPanel2->width(), 80);
    w->resize(610, 593);
    QCOMPARE(w->StatusText(), QString());
    // The compose view is shown first, filling the right-hand pane.
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->ComposeView()));
    QCOMPARE(SelectedNode(w), int(TExplorerModel::ndCompose));
    QCOMPARE(w->ComposeView()->parentWidget(), w->PnlRight);
    QCOMPARE(w->ComposeView()->geometry(), w->PnlRight->rect());
    QVERIFY(!w->OutboxView()->isVisible());
    QVERIFY(!w->SentView()->isVisible());
}

void TestUiMainWindow::menusAndActions() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    const QList<QAction *> menus = w->menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&View"));
    QCOMPARE(menus[2]->text(), QStringLiteral("&Help"));
    QCOMPARE(MenuTexts(menus[0]->menu()),
             (QStringList{"&New", "&Open...", "&Save", "S&ave As...", "-", "Import Contacts...",
                          "Export Contacts...", "-", "E&xit"}));
    QCOMPARE(MenuTexts(menus[1]->menu()), (QStringList{"&Folder Explorer", "-", "Co&mpose",
                                                       "Co&ntacts", "Ou&tbox", "P&hone", "&Sent"}));
    QCOMPARE(MenuTexts(menus[2]->menu()), QStringList{"&About"});
    QCOMPARE(w->actOpen->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(w->actSave->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(w->actStart->shortcut(), QKeySequence(Qt::Key_F5));
    QVERIFY(w->actStop->shortcut().isEmpty());
    QCOMPARE(w->actStart->text(), QStringLiteral("Start"));
    QCOMPARE(w->actStop->text(), QStringLiteral("Stop"));
    for (QAction *action :
         {w->actOpen, w->actExit, w->actViewCompose, w->actViewContacts, w->actViewOutbox,
          w->actViewPhone, w->actViewSent, w->actStart, w->actStop})
        QVERIFY2(!action->icon().isNull(), qPrintable(action->objectName()));
    QVERIFY(w->actViewExplorer->isCheckable());
    QVERIFY(w->actViewExplorer->isChecked());
    QVERIFY(w->actStart->isEnabled());
    QVERIFY(!w->actStop->isEnabled());
}

void TestUiMainWindow::captionFollowsProject() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Untitled - Pelorvane"));
    f.Data->OutboxList->Add(MakeMessage(1));
    // The modified mark comes with the next refresh.
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    w->RefreshAll();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
    f.FileNames << f.FilePath(QStringLiteral("first.sms"));
    w->actSave->trigger();
    QCOMPARE(w->windowTitle(), QStringLiteral("first.sms - Pelorvane"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("first.sms - Pelorvane"));
    QVERIFY(QFile::exists(f.FilePath(QStringLiteral("first.sms"))));
}

void TestUiMainWindow::explorerNodes() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    TExplorerModel *model = w->ExplorerModel;
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 5);
    const QStringList captions = {"Compose", "Contacts", "Outbox", "Phone", "Sent"};
    QList<QWidget *> views = {w->ComposeView(), w->ContactsView(), w->OutboxView(), w->PhoneView(),
                              w->SentView()};
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(model->index(row, 0).data().toString(), captions[row]);
        QVERIFY(!model->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model->Node(row).View, views[row]);
        QVERIFY(!static_cast<QAbstractItemModel *>(model)->hasChildren(model->index(row, 0)));
    }
    QCOMPARE(w->OutboxView()->Label1->text(), QStringLiteral("Outbox"));
    QCOMPARE(w->SentView()->Label1->text(), QStringLiteral("Sent"));
    // Each accessor gives the same view every time.
    QCOMPARE(w->OutboxView(), w->OutboxView());
    QCOMPARE(model->Node(7).Caption, QString());
    QCOMPARE(model->Node(7).View, nullptr);
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
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    for (int i = 0; i < contacts; ++i)
        f.Data->ContactList->Add(MakeContact(i));
    for (int i = 0; i < outbox; ++i)
        f.Data->OutboxList->Add(MakeMessage(i));
    for (int i = 0; i < sent; ++i)
        f.Data->SentList->Add(MakeMessage(i));
    w->RefreshAll();
    for (int node = 0; node < 5; ++node)
        QCOMPARE(NodeExtra(w, node), texts[node]);
    QCOMPARE(w->OutboxView()->Model()->rowCount(), outbox);
    QCOMPARE(w->SentView()->Model()->rowCount(), sent);
}

void TestUiMainWindow::explorerCountsPaintedBlue() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->ShowView(w->ComposeView());
    QCOMPARE(BluePixels(w->Explorer->viewport()), 0);
    for (int i = 0; i < 1234; ++i)
        f.Data->ContactList->Add(MakeContact(i));
    w->RefreshAll();
    QVERIFY(BluePixels(w->Explorer->viewport()) > 10);
}

void TestUiMainWindow::explorerChoosesView() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    const QRect sentRect =
        w->Explorer->visualRect(w->ExplorerModel->index(TExplorerModel::ndSent, 0));
    QTest::mouseClick(w->Explorer->viewport(), Qt::LeftButton, Qt::NoModifier, sentRect.center());
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->SentView()));
    QVERIFY(w->SentView()->isVisible());
    QVERIFY(!w->ComposeView()->isVisible());
    QCOMPARE(w->SentView()->geometry(), w->PnlRight->rect());
}

void TestUiMainWindow::showViewSelectsNode() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    f.Data->OutboxList->Add(MakeMessage(1));
    w->ShowView(w->OutboxView());
    QCOMPARE(SelectedNode(w), int(TExplorerModel::ndOutbox));
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->OutboxView()));
    // ShowView refreshes the whole window.
    QCOMPARE(w->OutboxView()->Model()->rowCount(), 1);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled* - Pelorvane"));
}

void TestUiMainWindow::viewMenuKeepsExplorerHighlight() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->ShowView(w->ContactsView());
    QCOMPARE(SelectedNode(w), int(TExplorerModel::ndContacts));
    w->actViewOutbox->trigger();
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->OutboxView()));
    QVERIFY(w->OutboxView()->isVisible());
    QVERIFY(!w->ContactsView()->isVisible());
    QCOMPARE(SelectedNode(w), int(TExplorerModel::ndContacts));
    w->actViewSent->trigger();
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->SentView()));
    w->actViewCompose->trigger();
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->ComposeView()));
    QCOMPARE(SelectedNode(w), int(TExplorerModel::ndContacts));
}

void TestUiMainWindow::composeToFillsTheToBox() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->ShowView(w->SentView());
    w->ComposeTo("111;222;");
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->ComposeView()));
    QCOMPARE(SelectedNode(w), int(TExplorerModel::ndCompose));
    QCOMPARE(w->ComposeView()->ComboBox1->currentText(), QStringLiteral("111;222;"));
}

void TestUiMainWindow::explorerToggle() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->btnHideExplorer->click();
    QVERIFY(w->PnlExplorer->isHidden());
    QVERIFY(!w->actViewExplorer->isChecked());
    QTRY_VERIFY(w->Splitter1->handle(1)->isHidden());
    w->actViewExplorer->trigger();
    QVERIFY(!w->PnlExplorer->isHidden());
    QVERIFY(w->actViewExplorer->isChecked());
    QTRY_COMPARE(w->PnlExplorer->width(), 137);
    // The splitter sits right after the panel.
    QTRY_COMPARE(w->Splitter1->handle(1)->geometry().left(),
                 w->PnlExplorer->geometry().left() + w->PnlExplorer->width());
}

void TestUiMainWindow::explorerHiddenAcrossRestart() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->actViewExplorer->trigger();
    QVERIFY(w->PnlExplorer->isHidden());
    f.EndProgram();
    const TIniFile ini(f.IniPath());
    QCOMPARE(ini.ReadString("frmPelorvane", "PnlExplorer_Visible", QString()),
             QStringLiteral("FALSE"));
    QCOMPARE(ini.ReadString("frmPelorvane", "Splitter1_Visible", QString()),
             QStringLiteral("FALSE"));

    f.CreateData();
    w = f.CreateWindow();
    QVERIFY(w->PnlExplorer->isHidden());
    QVERIFY(!w->actViewExplorer->isChecked());
    w->actViewExplorer->trigger();
    QVERIFY(w->PnlExplorer->isVisible());
    QCOMPARE(w->PnlExplorer->width(), 137);
    QTRY_COMPARE(w->Splitter1->handle(1)->geometry().left(),
                 w->PnlExplorer->geometry().right() + 1);
}

void TestUiMainWindow::layoutWrittenOnClose() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->Splitter1->setSizes({180, 400});
    const QRect normal = w->geometry();
    QVERIFY(w->close());
    const TIniFile ini(f.IniPath());
    const QString section = QStringLiteral("frmPelorvane");
    QCOMPARE(ini.ReadInteger(section, "FormVersion", -5), 0);
    QCOMPARE(ini.ReadInteger(section, "ShowCmd", -5), 1);
    QCOMPARE(ini.ReadInteger(section, "Flags", -5), 0);
    QVERIFY(ini.ReadInteger(section, "PixelsPerInch", 0) > 0);
    QCOMPARE(ini.ReadString(section, "MinMaxPos", QString()), QStringLiteral("-1,-1,-1,-1"));
    QCOMPARE(ini.ReadString(section, "NormPos", QString()),
             QStringLiteral("%1,%2,%3,%4")
                 .arg(normal.left())
                 .arg(normal.top())
                 .arg(normal.left() + normal.width())
                 .arg(normal.top() + normal.height()));
    QCOMPARE(ini.ReadInteger(section, "PnlExplorer_Width", -1), 180);
    QCOMPARE(ini.ReadString(section, "PnlExplorer_Visible", QString()), QStringLiteral("TRUE"));
    // Written once: destroying the window later does not touch the file again.
    const QByteArray written = [&] {
        QFile file(f.IniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QFile::remove(f.IniPath());
    f.Window.reset();
    QVERIFY(!QFile::exists(f.IniPath()));

    // The next start puts the window where it was.
    WriteFile(f.IniPath(), written);
    f.Data.reset();
    f.CreateData();
    w = f.CreateWindow();
    QCOMPARE(w->geometry(), normal);
    QCOMPARE(w->PnlExplorer->width(), 180);
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
    TFixture f;
    WriteFile(f.IniPath(), "[Setting]\nCOM Port=COM3\n\n[frmPelorvane]\n" + section);
    f.CreateData();
    TfrmPelorvane *w = f.CreateWindow();
    QCOMPARE(w->isMaximized(), maximized);
    if (geometry.width() > 0)
        QCOMPARE(w->size(), geometry.size());
    if (geometry.x() >= 0)
        QCOMPARE(w->geometry().topLeft(), geometry.topLeft());
    else if (!maximized)
        QVERIFY(w->geometry().x() < 2000 && w->geometry().y() < 2000);
    QCOMPARE(!w->PnlExplorer->isHidden(), explorerVisible);
    QCOMPARE(w->actViewExplorer->isChecked(), explorerVisible);
    if (explorerVisible && explorerWidth >= 0)
        QCOMPARE(w->PnlExplorer->width(), explorerWidth);
}

void TestUiMainWindow::layoutKeepsSettingSection() {
    TFixture f;
    WriteFile(f.IniPath(), "; comment\n[Setting]\nCOM Port=COM7\n");
    f.CreateData();
    f.CreateWindow();
    f.EndProgram();
    const TIniFile ini(f.IniPath());
    QCOMPARE(ini.ReadString("Setting", "COM Port", QString()), QStringLiteral("COM7"));
    QVERIFY(ini.SectionExists("frmPelorvane"));
    QFile file(f.IniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("; comment\n[Setting]\nCOM Port=COM7\n"));
}

void TestUiMainWindow::idleUpdateRestoresActionStates() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->actStop->setEnabled(true);
    w->PnlExplorer->hide();
    QVERIFY(w->actViewExplorer->isChecked());
    TIdleHook::Instance().Request();
    QTRY_VERIFY(!w->actStop->isEnabled());
    QVERIFY(!w->actViewExplorer->isChecked());
    // Input also counts as a moment of idle time.
    w->actStop->setEnabled(true);
    QTest::mouseClick(w->Explorer->viewport(), Qt::LeftButton);
    QTRY_VERIFY(!w->actStop->isEnabled());
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
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    f.Data->ContactList->Add(MakeContact(1));
    f.Data->OutboxList->Add(MakeMessage(1));
    w->ComposeView()->SetBody(QStringLiteral("kept body"));
    f.Answers << QMessageBox::StandardButton(answer);
    f.FileNames << f.FilePath(QStringLiteral("before-new.sms"));
    w->actFileNew->trigger();
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Questions[0].Text, QStringLiteral("Save current project ?"));
    QCOMPARE(f.Questions[0].Kind, TMsgKind::Confirm);
    QCOMPARE(f.Questions[0].Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(f.Data->OutboxList->Count(), emptied ? 0 : 1);
    QCOMPARE(f.Data->ContactList->Count(), emptied ? 0 : 1);
    QCOMPARE(QFile::exists(f.FilePath(QStringLiteral("before-new.sms"))), saved);
    if (emptied) {
        QVERIFY(!f.Data->Modified);
        QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
        QCOMPARE(w->OutboxView()->Model()->rowCount(), 0);
    }
    QCOMPARE(w->ComposeView()->BodyText(), QStringLiteral("kept body"));
}

void TestUiMainWindow::saveAndOpenRoundTrip() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    for (int i = 1; i <= 3; ++i)
        f.Data->OutboxList->Add(MakeMessage(i));
    f.Data->SentList->Add(MakeMessage(9));
    f.Data->ContactList->Add(MakeContact(1));
    w->ComposeView()->SetRecipients("123;456");
    w->ComposeView()->Edit1->setText(QStringLiteral("Subject"));
    w->ComposeView()->SetBody(QStringLiteral("Body"));
    const QString path = f.FilePath(QStringLiteral("round.sms"));
    f.FileNames << path;
    w->actSaveAs->trigger();
    QVERIFY(f.FileDialogs.value(0).startsWith(QStringLiteral("save:Pelorvane Projects (*.sms)")));
    QVERIFY(QFile::exists(path));
    QVERIFY(!f.Data->Modified);

    w->actFileNew->trigger();
    QVERIFY(f.Questions.isEmpty());
    w->ComposeView()->btnClear->click();
    f.FileNames << path;
    w->actOpen->trigger();
    QCOMPARE(f.FileDialogs.value(1),
             QStringLiteral("open:Pelorvane Project (*.sms)|*.sms|All Files (*.*)|*.*"));
    QCOMPARE(f.Data->OutboxList->Count(), 3);
    QCOMPARE(f.Data->SentList->Count(), 1);
    QCOMPARE(f.Data->ContactList->Count(), 1);
    QCOMPARE(w->OutboxView()->Model()->rowCount(), 3);
    QCOMPARE(NodeExtra(w, TExplorerModel::ndOutbox), QStringLiteral("(3)"));
    QCOMPARE(w->ComposeView()->ComboBox1->currentText(), QStringLiteral("123;456"));
    QCOMPARE(w->ComposeView()->Edit1->text(), QStringLiteral("Subject"));
    QCOMPARE(w->ComposeView()->BodyText(), QStringLiteral("Body"));
    QCOMPARE(w->windowTitle(), QStringLiteral("round.sms - Pelorvane"));
}

void TestUiMainWindow::openCancelledAtQuestion() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    const QString path = f.FilePath(QStringLiteral("other.sms"));
    f.Data->OutboxList->Add(MakeMessage(1));
    f.FileNames << path;
    w->actSaveAs->trigger();
    f.Data->OutboxList->Add(MakeMessage(2));
    f.FileNames << path;
    f.Answers << QMessageBox::Cancel;
    w->actOpen->trigger();
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Data->OutboxList->Count(), 2);
    QVERIFY(f.Data->Modified);
    // A cancelled open dialog asks nothing at all.
    f.Questions.clear();
    w->actOpen->trigger();
    QVERIFY(f.Questions.isEmpty());
}

void TestUiMainWindow::openInvalidFileShowsError() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    const QString path = f.FilePath(QStringLiteral("notes.txt"));
    WriteFile(path, "just some text");
    f.FileNames << path;
    w->actOpen->trigger();
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Questions[0].Text, QStringLiteral("Invalid file format."));
    QCOMPARE(f.Questions[0].Kind, TMsgKind::Error);
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
    QVERIFY(w->isVisible());
}

void TestUiMainWindow::closeUnmodifiedAsksNothing() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    w->actExit->trigger();
    QVERIFY(f.Questions.isEmpty());
    QVERIFY(!w->isVisible());
}

void TestUiMainWindow::closeQuestionCancelKeepsWindow() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    f.Data->OutboxList->Add(MakeMessage(1));
    f.Answers << QMessageBox::Cancel;
    QVERIFY(!w->close());
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Questions[0].Text, QStringLiteral("Save \"Untitled\" before exit ?"));
    QCOMPARE(f.Questions[0].Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(w->isVisible());
    // The layout is written only once the window may close.
    QVERIFY(!TIniFile(f.IniPath()).SectionExists("frmPelorvane"));
}

void TestUiMainWindow::closeQuestionYesThenCancelledSave() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    f.Data->OutboxList->Add(MakeMessage(1));
    f.Answers << QMessageBox::Yes;
    // The save dialog is cancelled: the program closes without saving.
    QVERIFY(w->close());
    QCOMPARE(f.FileDialogs.size(), 1);
    QVERIFY(f.FileDialogs[0].startsWith(QStringLiteral("save:")));
    QVERIFY(!w->isVisible());
    QVERIFY(f.Data->FileName.isEmpty());
    QCOMPARE(QDir(f.Dir.path()).entryList({QStringLiteral("*.sms")}, QDir::Files).size(), 0);
}

void TestUiMainWindow::closeQuestionYesSaves() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    const QString path = f.FilePath(QStringLiteral("named.sms"));
    f.Data->OutboxList->Add(MakeMessage(1));
    f.FileNames << path;
    w->actSave->trigger();
    f.Data->OutboxList->Add(MakeMessage(2));
    f.Answers << QMessageBox::Yes;
    QVERIFY(w->close());
    QCOMPARE(f.Questions[0].Text, QStringLiteral("Save \"named.sms\" before exit ?"));
    TDataModule1 reread(f.FilePath(QStringLiteral("other.ini")));
    reread.Load(path);
    QCOMPARE(reread.OutboxList->Count(), 2);
}

void TestUiMainWindow::commandLineProject() {
    TFixture f;
    const QString path = f.FilePath(QStringLiteral("start.sms"));
    {
        TDataModule1 maker(f.FilePath(QStringLiteral("maker.ini")));
        for (int i = 1; i <= 4; ++i)
            maker.OutboxList->Add(MakeMessage(i));
        maker.Compose.Body = QStringLiteral("from the file");
        maker.OnAskFileName = [&] { return path; };
        QVERIFY(maker.Save());
    }
    TfrmPelorvane *w = f.CreateWindow(false);
    w->OpenProjectFile(path);
    QVERIFY(!w->isVisible());
    QCOMPARE(f.Data->FileName, path);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->windowTitle(), QStringLiteral("start.sms - Pelorvane"));
    QCOMPARE(w->OutboxView()->Model()->rowCount(), 4);
    QCOMPARE(NodeExtra(w, TExplorerModel::ndOutbox), QStringLiteral("(4)"));
    QCOMPARE(w->ComposeView()->BodyText(), QStringLiteral("from the file"));
    QVERIFY(f.Questions.isEmpty());
}

void TestUiMainWindow::commandLineBadProject() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow(false);
    w->OpenProjectFile(f.FilePath(QStringLiteral("missing.sms")));
    QCOMPARE(f.Questions.size(), 1);
    QCOMPARE(f.Questions[0].Kind, TMsgKind::Error);
    QVERIFY(f.Questions[0].Text.endsWith(QLatin1Char('.')));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Pelorvane"));
}

void TestUiMainWindow::importExportRunContactActions() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    QVERIFY(w->ContactsView()->actImport);
    QVERIFY(w->ContactsView()->actExport);
    QSignalSpy imports(w->ContactsView()->actImport, &QAction::triggered);
    QSignalSpy exports(w->ContactsView()->actExport, &QAction::triggered);
    w->actImportContact->trigger();
    w->actExportContact->trigger();
    QCOMPARE(imports.count(), 1);
    QCOMPARE(exports.count(), 1);
    // The contacts view need not be shown.
    QCOMPARE(w->CurrentView(), static_cast<QWidget *>(w->ComposeView()));
}

void TestUiMainWindow::aboutBox() {
    TFixture f;
    TfrmPelorvane *w = f.CreateWindow();
    QString name;
    QString version;
    bool picture = false;
    QTimer::singleShot(0, [&] {
        auto *about = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!about)
            return;
        name = about->findChild<QLabel *>(QStringLiteral("lblName"))->text();
        version = about->findChild<QLabel *>(QStringLiteral("lblVersion"))->text();
        picture = !about->findChild<QLabel *>(QStringLiteral("imgProgram"))->pixmap().isNull();
        QTest::keyClick(about, Qt::Key_Return);
    });
    w->ActAbout->trigger();
    QCOMPARE(name, QStringLiteral("Pelorvane"));
    QCOMPARE(version, QStringLiteral("Version ") + QLatin1StringView(PELORVANE_VERSION));
    QVERIFY(picture);
}

QTEST_MAIN(TestUiMainWindow)
#include "tst_ui_mainwindow.moc"
