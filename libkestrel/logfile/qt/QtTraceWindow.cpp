#include "libkestrel/logfile/qt/QtTraceWindow.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "libkestrel/logfile/TraceWindow.h"

namespace kestrel::qtwindow {

namespace {

constexpr int kTickMs = 500;

// The trace window: a text box above a "Dismiss" button.
class TraceWindowWidget : public QWidget {
public:
    explicit TraceWindowWidget(std::shared_ptr<TraceWindowState> state) : state_(std::move(state))
    {
        setWindowTitle(QStringLiteral("Info"));
        // Children: the widget owns and deletes them.
        box_ = new QPlainTextEdit(this);  // NOLINT(cppcoreguidelines-owning-memory)
        box_->setReadOnly(true);
        box_->setLineWrapMode(QPlainTextEdit::NoWrap);
        dismiss_ = new QPushButton(QStringLiteral("Dismiss"), this);  // NOLINT(cppcoreguidelines-owning-memory)
        connect(dismiss_, &QPushButton::clicked, this, [this] {
            state_->Dismiss();
            hide();
        });
        timer_ = new QTimer(this);  // NOLINT(cppcoreguidelines-owning-memory)
        connect(timer_, &QTimer::timeout, this, [this] { TakePending(); });
        timer_->start(kTickMs);
        move(160, 100);
        resize(340, 220);
    }

    [[nodiscard]] QPlainTextEdit* Box() const { return box_; }
    [[nodiscard]] QPushButton* DismissButton() const { return dismiss_; }

protected:
    void resizeEvent(QResizeEvent* /*event*/) override
    {
        const int w = width();
        const int h = height();
        box_->setGeometry(3, 3, w - 6, h - 27);
        dismiss_->setGeometry(0, h - 18, w, 15);
    }

private:
    // Every 500 ms: the pending text moves into the box.
    void TakePending()
    {
        std::string bytes;
        {
            const std::lock_guard guard(state_->lock);
            bytes.swap(state_->pending);
        }
        if (bytes.empty()) {
            return;
        }
        QString pending = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        pending.remove(QLatin1Char('\r'));
        const WindowTextPlan plan =
            PlanWindowText(static_cast<std::size_t>(length_), static_cast<std::size_t>(pending.size()));
        if (plan.append) {
            QTextCursor cursor(box_->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(pending);
            length_ += pending.size();
        } else {
            const QString text = box_->toPlainText().sliced(static_cast<qsizetype>(plan.boxFrom)) +
                                 pending.sliced(static_cast<qsizetype>(plan.pendingFrom));
            box_->setPlainText(text);
            length_ = text.size();
        }
        box_->verticalScrollBar()->setValue(box_->verticalScrollBar()->maximum());
    }

    std::shared_ptr<TraceWindowState> state_;
    QPlainTextEdit* box_ = nullptr;
    QPushButton* dismiss_ = nullptr;
    QTimer* timer_ = nullptr;
    qsizetype length_ = 0;  // characters in the box
};

// The program's Qt application, when it has one with widgets: the windows
// live on its thread.
QObject* WindowTarget()
{
    QCoreApplication* app = QCoreApplication::instance();
    return qobject_cast<QApplication*>(app);
}

// What a window and the calls posted for it share.
struct Posted {
    std::atomic<TraceWindowWidget*> widget{nullptr};
    std::atomic<bool> showQueued{false};
};

class QtTraceWindow : public ITraceWindow {
public:
    QtTraceWindow(std::shared_ptr<TraceWindowState> state, QObject* target)
        : target_(target), posted_(std::make_shared<Posted>())
    {
        Post([posted = posted_, state = std::move(state)] {
            // The destroy request deletes it.
            auto* widget = new TraceWindowWidget(state);  // NOLINT(cppcoreguidelines-owning-memory)
            posted->widget.store(widget);
        });
    }
    ~QtTraceWindow() override
    {
        Post([posted = posted_] {
            // Made by the create request.
            TraceWindowWidget* widget = posted->widget.exchange(nullptr);
            delete widget;  // NOLINT(cppcoreguidelines-owning-memory)
        });
    }
    QtTraceWindow(const QtTraceWindow&) = delete;
    QtTraceWindow& operator=(const QtTraceWindow&) = delete;

    void SetTitle(const std::string& title) override
    {
        Post([posted = posted_, title = QString::fromStdString(title)] {
            if (TraceWindowWidget* w = posted->widget.load()) {
                w->setWindowTitle(title);
            }
        });
    }

    void Show(bool toFront) override
    {
        // Writes come by the thousand: one show request waits at a time.
        if (posted_->showQueued.exchange(true)) {
            return;
        }
        Post([posted = posted_, toFront] {
            posted->showQueued.store(false);
            TraceWindowWidget* w = posted->widget.load();
            if (w == nullptr) {
                return;
            }
            if (toFront && w->isMinimized()) {
                w->showNormal();
            } else {
                w->show();
            }
            if (toFront) {
                w->raise();
                w->activateWindow();
            }
        });
    }

    void Hide() override
    {
        Post([posted = posted_] {
            if (TraceWindowWidget* w = posted->widget.load()) {
                w->hide();
            }
        });
    }

    [[nodiscard]] void* Handle() const override { return posted_->widget.load(); }

    bool PumpIfOwnThread() override
    {
        if (QThread::currentThread() != target_->thread()) {
            return false;
        }
        QCoreApplication::processEvents();
        return true;
    }

private:
    template <typename F>
    void Post(F&& call)
    {
        QMetaObject::invokeMethod(target_, std::forward<F>(call), Qt::QueuedConnection);
    }

    QObject* target_;
    std::shared_ptr<Posted> posted_;
};

std::unique_ptr<ITraceWindow> MakeWindow(std::shared_ptr<TraceWindowState> state)
{
    QObject* target = WindowTarget();
    if (target == nullptr) {
        return nullptr;
    }
    return std::make_unique<QtTraceWindow>(std::move(state), target);
}

bool PumpWindows()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        return false;
    }
    QCoreApplication::processEvents();
    return true;
}

}  // namespace

void Install()
{
    SetTraceWindowFactory(&MakeWindow);
    SetTraceWindowPumpFunction(&PumpWindows);
}

}  // namespace kestrel::qtwindow
