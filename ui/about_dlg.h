// The About box (template 100).
#pragma once

#include <QDialog>

class CAboutDlg final : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
