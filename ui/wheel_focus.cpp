#include "ui/wheel_focus.h"

#include <QEvent>
#include <QWidget>

void CWheelNeedsFocus::Install(QWidget* widget) {
    widget->installEventFilter(new CWheelNeedsFocus(widget));
}

bool CWheelNeedsFocus::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && !widget->hasFocus()) {
            // Passed on to the parent, as a control without the focus would.
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
