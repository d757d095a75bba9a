#include "ui/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/dialog_units.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowTitle(QStringLiteral("About Pelkor"));
    setWindowIcon(AppIcon());
    setModal(true);
    setFixedSize(DluToPixelsX(235), DluToPixelsY(55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    icon->setPixmap(QPixmap::fromImage(AppIconImage(32)));
    icon->move(DluToPixelsX(11), DluToPixelsY(17));
    icon->resize(32, 32);

    auto* version = new QLabel(QStringLiteral("Pelkor Version 1.0"), this);
    version->setObjectName(QStringLiteral("IDC_STATIC_VERSION"));
    version->setTextFormat(Qt::PlainText);
    version->setGeometry(DluRect(40, 10, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setGeometry(DluRect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
