#include "ui/serial_ports_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "comlink/device_map.h"
#include "ui/serial_ports.h"

namespace {

enum Column { kPort, kDevice, kDescription, kState, kPath, kColumns };

}  // namespace

CSerialPortsDlg::CSerialPortsDlg(CSerialPorts& ports, QWidget* parent)
    : QDialog(parent), ports_(ports) {
    setWindowTitle(QStringLiteral("Serial ports"));
    table_ = new QTableWidget(0, kColumns, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Device"),
                                       QStringLiteral("Description"), QStringLiteral("State"),
                                       QStringLiteral("Path")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    number_ = new QSpinBox(this);
    number_->setRange(kFirstMappedCom, kLastMappedCom);
    number_->setPrefix(QStringLiteral("COM"));
    give_ = new QPushButton(QStringLiteral("Give number"), this);
    forget_ = new QPushButton(QStringLiteral("Forget"), this);
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    message_ = new QLabel(this);
    message_->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(number_);
    buttons->addWidget(give_);
    buttons->addWidget(forget_);
    buttons->addStretch();
    buttons->addWidget(refresh);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(message_);
    layout->addLayout(buttons);
    resize(720, 300);

    connect(table_, &QTableWidget::itemSelectionChanged, this, &CSerialPortsDlg::UpdateButtons);
    connect(give_, &QPushButton::clicked, this, [this] { GiveNumber(number_->value()); });
    connect(forget_, &QPushButton::clicked, this, [this] { ForgetSelected(); });
    connect(refresh, &QPushButton::clicked, this, &CSerialPortsDlg::Refresh);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    Refresh();
}

void CSerialPortsDlg::Refresh() {
    const int selected = SelectedNumber();
    const std::string problems = ports_.Rescan();
    message_->setText(QString::fromStdString(problems));
    const std::vector<ComPortRow> rows = ports_.Rows();
    table_->setRowCount(static_cast<int>(rows.size()));
    int row = 0;
    for (const ComPortRow& r : rows) {
        auto set = [&](int column, const std::string& text) {
            auto* item = new QTableWidgetItem(QString::fromStdString(text));
            item->setData(Qt::UserRole, r.inDatabase ? r.number : 0);
            table_->setItem(row, column, item);
        };
        set(kPort, r.number != 0 ? "COM" + std::to_string(r.number) : "-");
        set(kDevice, r.present ? r.device.devicePath : "");
        set(kDescription, r.present ? r.device.Description() : "");
        set(kState, r.present ? "present" : "absent");
        set(kPath, r.path);
        ++row;
    }
    table_->resizeColumnsToContents();
    if (selected != 0) SelectPort(selected);
    UpdateButtons();
}

int CSerialPortsDlg::SelectedNumber() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    return items.isEmpty() ? 0 : items.front()->data(Qt::UserRole).toInt();
}

bool CSerialPortsDlg::SelectPort(int number) {
    for (int row = 0; row < table_->rowCount(); ++row) {
        if (table_->item(row, kPort)->text() == QStringLiteral("COM%1").arg(number)) {
            table_->selectRow(row);
            return true;
        }
    }
    return false;
}

void CSerialPortsDlg::UpdateButtons() {
    // Only entries of the database can be renumbered or forgotten; a UART at its
    // own number or a --port override is not one.
    const bool entry = SelectedNumber() != 0;
    give_->setEnabled(entry);
    forget_->setEnabled(entry);
}

bool CSerialPortsDlg::GiveNumber(int to) {
    const int from = SelectedNumber();
    std::string error;
    if (from == 0) {
        error = "select a saved port first";
    } else if (ports_.Renumber(from, to, &error)) {
        Refresh();
        SelectPort(to);
        message_->setText(
            QStringLiteral("COM%1 is now COM%2; reconnect to use it.").arg(from).arg(to));
        return true;
    }
    message_->setText(QString::fromStdString(error));
    return false;
}

bool CSerialPortsDlg::ForgetSelected() {
    const int number = SelectedNumber();
    std::string error;
    if (number == 0) {
        error = "select a saved port first";
    } else if (ports_.Forget(number, &error)) {
        Refresh();
        message_->setText(QStringLiteral("COM%1 forgotten.").arg(number));
        return true;
    }
    message_->setText(QString::fromStdString(error));
    return false;
}

QString CSerialPortsDlg::Message() const {
    return message_->text();
}
