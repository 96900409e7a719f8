// What the window tests share: the QApplication (made by the tests' main),
// event pumping with a deadline, and answering the next modal dialog.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>

#include "client/gui/QtChild.h"
#include "libkestrel/testkit/TestKit.h"

namespace vorlix::client::testing {

using namespace std::chrono_literals;

inline QApplication& App()
{
    return *qobject_cast<QApplication*>(QCoreApplication::instance());
}

// Runs the event loop until `done`, at most `limit`.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    return kestrel::test::WaitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return done();
        },
        limit);
}

// Once a modal dialog opens (within 3 s), runs `answer` on it.
inline void OnNextDialog(std::function<void(QDialog*)> answer)
{
    auto* poll = QtChild<QTimer>(&App());
    auto started = std::chrono::steady_clock::now();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer = std::move(answer), started] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        } else if (std::chrono::steady_clock::now() - started > 3s) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

}  // namespace vorlix::client::testing
