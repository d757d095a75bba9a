// An up-down control without a buddy: two arrow buttons that propose a change
// of position. Its range is the platform default (maximum below minimum), so
// the upper arrow proposes -1 and the lower arrow +1; the position itself is
// never read.
#pragma once

#include <QWidget>

class QToolButton;

class CUpDownCtrl final : public QWidget {
    Q_OBJECT
  public:
    explicit CUpDownCtrl(QWidget* parent = nullptr);
    void ClickUp();
    void ClickDown();

  signals:
    // The change the control proposes (UDN_DELTAPOS's iDelta).
    void deltaPos(int iDelta);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QToolButton* up_;
    QToolButton* down_;
};
