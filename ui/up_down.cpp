#include "ui/up_down.h"

#include <QKeyEvent>
#include <QToolButton>

CUpDownCtrl::CUpDownCtrl(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIconSize(QSize(7, 7));
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { emit deltaPos(-1); });
    connect(down_, &QToolButton::clicked, this, [this] { emit deltaPos(+1); });
    setFocusPolicy(Qt::NoFocus);
}

void CUpDownCtrl::ClickUp() {
    up_->click();
}

void CUpDownCtrl::ClickDown() {
    down_->click();
}

void CUpDownCtrl::resizeEvent(QResizeEvent* event) {
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
    QWidget::resizeEvent(event);
}

void CUpDownCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        emit deltaPos(-1);
    } else if (event->key() == Qt::Key_Down) {
        emit deltaPos(+1);
    } else {
        QWidget::keyPressEvent(event);
    }
}
