#include "ui/SettingForm.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "app/Setting.h"
#include "link/ComPort.h"
#include "link/PhoneUnit.h"
#include "resources/ImageRoles.h"
#include "ui/Dialogs.h"
#include "ui/TitleStrip.h"
#include "ui/ViewHost.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr int NoPortNumber = std::numeric_limits<int>::max();

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DecimalOrNone(const QByteArray &digits) {
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), IsDigit))
        return NoPortNumber;
    bool ok = false;
    const int value = digits.toInt(&ok);
    return ok ? value : NoPortNumber;
}

} // namespace

int PortNumber(const QByteArray &name) {
    if (name.size() > 3 && name.first(3).compare("COM", Qt::CaseInsensitive) == 0)
        return DecimalOrNone(name.sliced(3));
    qsizetype start = name.size();
    while (start > 0 && IsDigit(name[start - 1]))
        --start;
    return DecimalOrNone(name.sliced(start));
}

QList<QByteArray> SortPortsByNumber(QList<QByteArray> names) {
    std::stable_sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
        return PortNumber(a) < PortNumber(b);
    });
    return names;
}

void TPortComboBox::showPopup() {
    Q_EMIT DropDown();
    QComboBox::showPopup();
}

TfrmSetting::TPortEnumerator &TfrmSetting::PortEnumerator() {
    static TPortEnumerator enumerator = [] { return TComPort::ListPorts(); };
    return enumerator;
}

TfrmSetting::TfrmSetting(TDataModule1 &data, TViewHost &host, QWidget *parent)
    : QWidget(parent), FData(data), FHost(host) {
    setObjectName(QStringLiteral("frmSetting"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new TTitleStrip(QStringLiteral("Phone"), this));

    auto *portBand = new QWidget(this);
    auto *portLayout = new QHBoxLayout(portBand);
    portLayout->setContentsMargins(8, 6, 8, 6);
    auto *portLabel = new QLabel(QStringLiteral("COM Port:"), portBand);
    ComboBox1 = new TPortComboBox(portBand);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setMinimumWidth(145);
    portLabel->setBuddy(ComboBox1);
    portLayout->addWidget(portLabel);
    portLayout->addWidget(ComboBox1);
    portLayout->addStretch(1);
    layout->addWidget(portBand);

    Treeview = new QTreeWidget(this);
    Treeview->setObjectName(QStringLiteral("Treeview"));
    Treeview->setColumnCount(2);
    Treeview->setHeaderLabels({QStringLiteral("Property"), QStringLiteral("Value")});
    Treeview->setRootIsDecorated(false);
    Treeview->setItemsExpandable(false);
    Treeview->setUniformRowHeights(true);
    Treeview->setSelectionBehavior(QAbstractItemView::SelectRows);
    Treeview->setAllColumnsShowFocus(true);
    Treeview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Treeview->header()->setSectionsClickable(false);
    Treeview->header()->resizeSection(0, 180);
    Treeview->header()->setStretchLastSection(true);
    Treeview->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(Treeview, 1);

    actUpdate = new QAction(QStringLiteral("Update"), this);
    actUpdate->setObjectName(QStringLiteral("actUpdate"));
    actUpdate->setProperty("category", QStringLiteral("Phone"));
    actUpdate->setIcon(QIcon(ImageRolePath(TImageRole::Update)));
    addAction(actUpdate);
    PopupMenu = new QMenu(this);
    PopupMenu->addAction(actUpdate);

    connect(actUpdate, &QAction::triggered, this, &TfrmSetting::Update);
    connect(Treeview, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        PopupMenu->popup(Treeview->viewport()->mapToGlobal(pos));
    });
    connect(ComboBox1, &TPortComboBox::DropDown, this, &TfrmSetting::ComboBox1DropDown);
    connect(ComboBox1, &QComboBox::activated, this, &TfrmSetting::ComboBox1Change);

    FormCreate();
}

TfrmSetting::~TfrmSetting() = default;

void TfrmSetting::FormCreate() {
    QList<QByteArray> ports;
    try {
        ports = PortEnumerator()();
    } catch (const EPelorvane &) {
        // No list of ports is no reason to have no view; the list stays empty.
    }
    for (const QByteArray &port : ports)
        ComboBox1->addItem(QString::fromLocal8Bit(port));
    ComboBox1->setCurrentIndex(
        ComboBox1->findText(QString::fromLocal8Bit(FData.Settings->ComPortName()),
                            Qt::MatchExactly | Qt::MatchCaseSensitive));
    ShowPortPlaceholder();
    for (const QByteArray &caption : TGetInfoThread::RowCaptions)
        new QTreeWidgetItem(Treeview, {QString::fromLocal8Bit(caption), QString()});
}

void TfrmSetting::ShowPortPlaceholder() {
    // The simulated phone of --simulate is no system port; say where the probe goes.
    const QByteArray port = FData.Settings->ComPortName();
    ComboBox1->setPlaceholderText(port != FData.Settings->StoredComPortName()
                                      ? QString::fromLocal8Bit(port) +
                                            QStringLiteral(" (this run only)")
                                      : QString());
}

void TfrmSetting::ComboBox1DropDown() {
    const QString shown = ComboBox1->currentText();
    QList<QByteArray> ports;
    try {
        ports = SortPortsByNumber(PortEnumerator()());
    } catch (const EPelorvane &) {
        return;
    }
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    for (const QByteArray &port : ports)
        ComboBox1->addItem(QString::fromLocal8Bit(port));
    ComboBox1->setCurrentIndex(
        shown.isEmpty() ? -1
                        : ComboBox1->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void TfrmSetting::ComboBox1Change(int index) {
    if (index < 0)
        return;
    FData.Settings->SetComPortName(ComboBox1->itemText(index).toLocal8Bit());
    ShowPortPlaceholder();
    Update();
}

void TfrmSetting::Update() {
    TPhone &phone = *FData.Phone;
    try {
        WithPhoneLock(phone, [&] {
            if (phone.IsBusy())
                return;
            // The view may be gone when a probe started before the program closed ends.
            QPointer<TfrmSetting> self(this);
            auto probe =
                std::make_unique<TGetInfoThread>([self](const TGetInfoThread::TResult &result) {
                    if (self)
                        self->ShowInfo(result);
                });
            phone.Start(probe.release());
        });
    } catch (const EPelorvane &e) {
        ShowErrorMessage(e.Message());
    }
}

void TfrmSetting::ShowInfo(const TGetInfoThread::TResult &result) {
    switch (result.Outcome) {
    case TGetInfoThread::poBusy:
        return;
    case TGetInfoThread::poDone:
    case TGetInfoThread::poRefused:
    case TGetInfoThread::poFailed:
        // A failed probe clears the rows: the values of an earlier phone (perhaps on another
        // port) must not stay on show as if they were this one's.
        for (int row = 0; row < TGetInfoThread::RowCount; ++row)
            Treeview->topLevelItem(row)->setText(1, QString::fromLocal8Bit(result.Values[row]));
        break;
    }
    FHost.RefreshAll();
}

QByteArray TfrmSetting::Caption(int row) const {
    const QTreeWidgetItem *item = Treeview->topLevelItem(row);
    return item ? item->text(0).toLocal8Bit() : QByteArray();
}

QByteArray TfrmSetting::Value(int row) const {
    const QTreeWidgetItem *item = Treeview->topLevelItem(row);
    return item ? item->text(1).toLocal8Bit() : QByteArray();
}

QString TfrmSetting::Model() const {
    for (int row = 0; row < Treeview->topLevelItemCount(); ++row) {
        if (Treeview->topLevelItem(row)->text(0) == QLatin1String("Model"))
            return Treeview->topLevelItem(row)->text(1);
    }
    return {};
}

void TfrmSetting::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Update();
}
