#pragma once

#include <functional>

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace tarnwick::testing {

// Runs `act` on the first visible top-level window of type T once one is shown,
// polling from the event loop: the test arranges this before it opens a modal
// dialog, and the dialog's own event loop does the polling. Gives up after
// `attempts` polls so that a dialog that never opens cannot hang the test; the
// test then fails on what it expected the dialog to answer.
template <typename T> void WhenShown(std::function<void(T*)> act, int attempts = 3000) {
    QTimer::singleShot(10, qApp, [act = std::move(act), attempts]() mutable {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* wanted = qobject_cast<T*>(window); wanted != nullptr && wanted->isVisible()) {
                act(wanted);
                return;
            }
        }
        if (attempts > 0) {
            WhenShown<T>(std::move(act), attempts - 1);
        }
    });
}

} // namespace tarnwick::testing
