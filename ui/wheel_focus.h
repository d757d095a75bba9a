// The mouse wheel over a list changes it only while it has the focus, as on
// other desktops: a wheel turn meant for scrolling past would otherwise pick a
// new rate or count, restart the averages and write the profile.
#pragma once

#include <QObject>

class QWidget;

class CWheelNeedsFocus final : public QObject {
    Q_OBJECT
  public:
    // Applies to widget from now on; the filter lives as long as the widget.
    static void Install(QWidget* widget);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    using QObject::QObject;
};
