#include "app/ToolbarVisibility.h"

#include <QAction>
#include <QEvent>
#include <QToolBar>

ToolbarVisibility::ToolbarVisibility(QToolBar* toolbar) : QObject(toolbar), toolbar_(toolbar) {}

void ToolbarVisibility::Track(QWidget* widget)
{
    wantedEnabled_.insert(widget, widget->isEnabled());
    if (QAction* action = ActionOf(widget))
        action->setEnabled(widget->isEnabled());
    widget->installEventFilter(this);
}

QAction* ToolbarVisibility::ActionOf(QWidget* widget) const
{
    for (QAction* action : toolbar_->actions())
        if (toolbar_->widgetForAction(action) == widget)
            return action;
    return nullptr;
}

void ToolbarVisibility::SetVisible(QWidget* widget, bool visible)
{
    QAction* action = ActionOf(widget);
    if (!action)
        return;
    syncing_ = true;
    action->setVisible(visible);
    if (visible) {
        const bool enabled = wantedEnabled_.value(widget, true);
        action->setEnabled(enabled);
        widget->setEnabled(enabled);
    }
    syncing_ = false;
}

bool ToolbarVisibility::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !syncing_) {
        auto* widget = static_cast<QWidget*>(watched);
        if (wantedEnabled_.contains(widget)) {
            QAction* action = ActionOf(widget);
            const bool enabled = widget->isEnabled();
            if (action && action->isVisible()) {
                wantedEnabled_[widget] = enabled;
                syncing_ = true;
                action->setEnabled(enabled);
                syncing_ = false;
            } else if (action) {
                // Hidden: this is the program's wish for when it is shown again.
                wantedEnabled_[widget] = enabled;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
