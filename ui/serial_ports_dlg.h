// "Serial ports...": every COM number in use with its device, description and
// whether it is plugged in. The operator can give a device another number or
// forget an entry; each change is saved at once.
#pragma once

#include <QDialog>

class QPushButton;
class QSpinBox;
class QTableWidget;
class CSerialPorts;

class CSerialPortsDlg : public QDialog {
    Q_OBJECT
  public:
    CSerialPortsDlg(CSerialPorts& ports, QWidget* parent = nullptr);

    // Looks at the devices again and fills the table.
    void Refresh();
    // The selected row's COM number gets `to` / is forgotten. false with the reason
    // shown under the table.
    bool GiveNumber(int to);
    bool ForgetSelected();
    // Selects the row of COMn; false when there is none.
    bool SelectPort(int number);

    QTableWidget* Table() const { return table_; }
    QString Message() const;

  private:
    int SelectedNumber() const;
    void UpdateButtons();

    CSerialPorts& ports_;
    QTableWidget* table_ = nullptr;
    QSpinBox* number_ = nullptr;
    QPushButton* give_ = nullptr;
    QPushButton* forget_ = nullptr;
    class QLabel* message_ = nullptr;
};
