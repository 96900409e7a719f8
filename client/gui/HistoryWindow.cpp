#include "client/gui/HistoryWindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "client/gui/PictureView.h"
#include "client/gui/QtChild.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::client {

// The picture and its scroll bar. A picture that fits (narrower than the
// area, shorter than its height - 120) is drawn at its own size, centred a
// little above the middle, with the scroll bar right under it; a larger one
// is stretched into the area less a 60-pixel margin on each side, with the
// scroll bar under that.
class HistoryPictureArea : public QWidget {
public:
    explicit HistoryPictureArea(QWidget* parent) : QWidget(parent), scroll_(QtChild<QScrollBar>(Qt::Horizontal, this))
    {
        scroll_->setGeometry(0, 0, 100, 10);
        setMinimumSize(400, 300);
    }
    [[nodiscard]] QScrollBar* Scroll() const { return scroll_; }
    void SetPicture(QImage picture)
    {
        picture_ = std::move(picture);
        Place();
        update();
    }

protected:
    void resizeEvent(QResizeEvent* /*event*/) override { Place(); }
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        if (!picture_.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(target_, picture_);
        }
    }

private:
    void Place()
    {
        const int w = width();
        const int h = height();
        const int barHeight = std::max(10, scroll_->sizeHint().height());
        if (!picture_.isNull() && picture_.width() < w && picture_.height() < h - 120) {
            const int x = (w - picture_.width()) / 2;
            const int y = (h - picture_.height() - 80) / 2;
            target_ = QRect(x, y, picture_.width(), picture_.height());
            scroll_->setGeometry(x, y + picture_.height(), picture_.width(), barHeight);
        } else {
            target_ = QRect(60, 5, std::max(1, w - 120), std::max(1, h - 120));
            scroll_->setGeometry(60, h - 115, std::max(1, w - 120), barHeight);
        }
    }

    QScrollBar* scroll_;
    QImage picture_;
    QRect target_;
};

HistoryWindow::HistoryWindow(ViewerSession& session, Effects effects, const TextOf& text, QWidget* parent)
    : QDialog(parent),
      session_(session),
      effects_(std::move(effects)),
      text_(text),
      pipeline_(""),
      area_(new HistoryPictureArea(this)),
      scroll_(area_->Scroll()),
      comment_(QtChild<QLabel>(this)),
      time_(QtChild<QLabel>(this)),
      name_(QtChild<QLineEdit>(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(text("Historique des images enregistrées"));
    name_->setReadOnly(true);
    auto* buttons = QtChild<QDialogButtonBox>(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(text("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::close);
    auto* layout = QtChild<QVBoxLayout>(this);
    layout->addWidget(area_, 1);
    layout->addWidget(comment_);
    layout->addWidget(time_);
    layout->addWidget(name_);
    layout->addWidget(buttons);
    connect(scroll_, &QScrollBar::actionTriggered, this, &HistoryWindow::OnScrollAction);
    // The end of a scroll asks once more.
    connect(scroll_, &QScrollBar::sliderReleased, this,
            [this] { Scroll(HistoryBrowser::Scroll::kOther, scroll_->sliderPosition()); });
    resize(520, 460);
}

void HistoryWindow::OpenNewest()
{
    TRACE_LEVEL(kestrel::kLevelUser1, "ID_DISPLAY_HISTORY");
    session_.RequestHistory("newer");
    SyncScrollBar();
    session_.RequestHistory("newer");
    show();
}

void HistoryWindow::Refresh()
{
    const StreamReader& reader = session_.Reader();
    SyncScrollBar();
    const std::vector<std::uint8_t>& picture = reader.HistoryPicture();
    std::optional<std::string> description;
    if (!picture.empty()) {
        description = pipeline_.Render(picture, effects_(), display_);
        if (description) {
            area_->SetPicture(ToImage(display_));
        }
    }
    comment_->setText(description ? QString::fromStdString(*description) : text_("no comment"));
    time_->setText(reader.Time() ? QString::fromStdString(*reader.Time()) : text_("unknown"));
    if (const std::optional<std::string> name = browser_.FileName(reader.IndiceLast(), reader.Modulo())) {
        name_->setText(QString::fromStdString(*name));
    }
}

void HistoryWindow::SyncScrollBar()
{
    const int modulo = session_.Reader().Modulo();
    const QSignalBlocker block(scroll_);
    scroll_->setRange(1, std::max(1, modulo));
    scroll_->setPageStep(10);
    scroll_->setSliderPosition(browser_.Position(modulo));
}

void HistoryWindow::OnScrollAction(int action)
{
    using S = HistoryBrowser::Scroll;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            Scroll(S::kLineLeft, 0);
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            Scroll(S::kLineRight, 0);
            break;
        case QAbstractSlider::SliderPageStepSub:
            Scroll(S::kPageLeft, 0);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            Scroll(S::kPageRight, 0);
            break;
        default:
            Scroll(S::kThumb, scroll_->sliderPosition());
            break;
    }
}

void HistoryWindow::Scroll(HistoryBrowser::Scroll scroll, int thumb)
{
    const StreamReader& reader = session_.Reader();
    const std::string argument = browser_.OnScroll(scroll, thumb, reader.IndiceLast(), reader.Modulo());
    // The slider shows the browser's position, not Qt's own step; blocked,
    // so that moving it does not count as one more scroll.
    {
        const QSignalBlocker block(scroll_);
        scroll_->setSliderPosition(browser_.Position(reader.Modulo()));
    }
    session_.RequestHistory(argument);
}

QString HistoryWindow::Comment() const
{
    return comment_->text();
}

QString HistoryWindow::TimeText() const
{
    return time_->text();
}

QString HistoryWindow::FileName() const
{
    return name_->text();
}

}  // namespace vorlix::client
