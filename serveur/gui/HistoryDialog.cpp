#include "serveur/gui/HistoryDialog.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/PictureNames.h"
#include "serveur/gui/QtOwned.h"

namespace vorlix::gui {

namespace {

constexpr int kInitialWidth = 640;
constexpr int kInitialHeight = 520;
constexpr int kPlayIconSide = 16;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// The play button's picture: a triangle pointing right.
QIcon PlayIcon()
{
    QImage image(kPlayIconSide, kPlayIconSide, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0, 128, 0));
    painter.setPen(Qt::NoPen);
    const QPointF points[] = {{3.0, 2.0}, {14.0, 8.0}, {3.0, 14.0}};
    painter.drawPolygon(points, 3);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace

HistoryDialog::HistoryDialog(app::ServerApp& app, app::TranslateFn translate, audio::RecordingPlayer* player,
                             bool audioOn, int noActivitySeconds, QWidget* parent)
    : QDialog(parent),
      app_(app),
      tr_(translate ? std::move(translate) : [](std::string_view t) { return std::string(t); }),
      player_(audioOn ? player : nullptr),
      noActivitySeconds_(noActivitySeconds),
      browser_(app.Cam() != nullptr ? app.Cam()->ShotCounter() : 0, app.Cam() != nullptr ? app.Cam()->MaxJpg() : 1)
{
    setObjectName("history");
    setWindowTitle(Q(Tr("Display history")));
    setModal(false);
    if (app.Cam() != nullptr) {
        dir_ = app.Cam()->PictureDir();
    }
    auto* layout = QtOwned<QVBoxLayout>(this);
    layout->addStretch(1);  // the picture is painted above the controls
    time_ = QtOwned<QLabel>(this);
    path_ = QtOwned<QLabel>(this);
    description_ = QtOwned<QLabel>(this);
    replay_ = QtOwned<QLabel>(this);
    for (QLabel* label : {time_, path_, description_}) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(label);
    }
    scroll_ = QtOwned<QScrollBar>(Qt::Horizontal, this);
    scroll_->setRange(1, browser_.MaxJpg());
    scroll_->setSingleStep(1);
    scroll_->setPageStep(app::kHistoryPageStep);
    scroll_->setValue(browser_.Position());
    layout->addWidget(scroll_);
    auto* bottom = QtOwned<QHBoxLayout>();
    play_ = QtOwned<QPushButton>(this);
    play_->setObjectName("play");
    play_->setIcon(PlayIcon());
    play_->setVisible(player_ != nullptr);
    bottom->addWidget(play_);
    bottom->addWidget(replay_, 1);
    auto* ok = QtOwned<QDialogButtonBox>(QDialogButtonBox::Ok, this);
    bottom->addWidget(ok);
    layout->addLayout(bottom);

    connect(scroll_, &QScrollBar::actionTriggered, this, &HistoryDialog::OnScrollAction);
    connect(play_, &QPushButton::clicked, this, &HistoryDialog::OnPlay);
    connect(ok, &QDialogButtonBox::accepted, this, &HistoryDialog::close);
    replayTimer_.setObjectName(QString::number(app::kHistoryReplayTimerId));
    connect(&replayTimer_, &QTimer::timeout, this, &HistoryDialog::OnReplayTick);
    resize(kInitialWidth, kInitialHeight);
    ShowPicture();
}

HistoryDialog::~HistoryDialog()
{
    StopReplay();
}

std::string HistoryDialog::Tr(const char* text) const
{
    return tr_(text);
}

QString HistoryDialog::PathText() const
{
    return path_->text();
}

QString HistoryDialog::TimeText() const
{
    return time_->text();
}

QString HistoryDialog::DescriptionText() const
{
    return description_->text();
}

QString HistoryDialog::ReplayText() const
{
    return replay_->text();
}

void HistoryDialog::OnScrollAction(int action)
{
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            browser_.LineLeft();
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            browser_.LineRight();
            break;
        case QAbstractSlider::SliderPageStepSub:
            browser_.PageLeft();
            break;
        case QAbstractSlider::SliderPageStepAdd:
            browser_.PageRight();
            break;
        case QAbstractSlider::SliderMove:
            browser_.ThumbTo(scroll_->sliderPosition());
            break;
        case QAbstractSlider::SliderToMinimum:
            browser_.ThumbTo(1);
            break;
        case QAbstractSlider::SliderToMaximum:
            browser_.ThumbTo(browser_.MaxJpg());
            break;
        default:
            return;
    }
    scroll_->setSliderPosition(browser_.Position());
    ShowPicture();
}

void HistoryDialog::ShowPicture()
{
    const int number = browser_.Number();
    const std::string path = PicturePath(dir_, number);
    app::HistoryPicture picture = app::ReadHistoryPicture(path);
    time_->setText(Q(picture.time));
    path_->setText(Q(app::HistoryPathText(path, picture)));
    if (picture.found) {
        description_->setText(Q(app::HistoryDescription(picture)));
        pixels_ = std::move(picture.rgb);
        image_ = QImage(pixels_.data(), picture.width, picture.height, static_cast<qsizetype>(picture.width) * 3,
                        QImage::Format_RGB888);
    } else {
        // The grey area keeps the last picture's size.
        description_->clear();
        const QSize size = image_.isNull() ? QSize(320, 240) : image_.size();
        pixels_.assign(static_cast<std::size_t>(size.width()) * static_cast<std::size_t>(size.height()) * 3,
                       static_cast<std::uint8_t>(kMissingGrey));
        image_ = QImage(pixels_.data(), size.width(), size.height(), static_cast<qsizetype>(size.width()) * 3,
                        QImage::Format_RGB888);
    }
    update();
}

app::HistoryPlacement HistoryDialog::Placement() const
{
    return app::PlaceHistoryPicture(width(), height(), image_.width(), image_.height());
}

void HistoryDialog::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (image_.isNull()) {
        return;
    }
    const app::HistoryPlacement at = Placement();
    painter.drawImage(QRect(at.x, at.y, at.width, at.height), image_);
}

void HistoryDialog::OnPlay()
{
    if (player_ == nullptr) {
        return;
    }
    if (Replaying() || player_->DeviceOpen()) {
        StopReplay();
        return;
    }
    const int shown = browser_.Number();
    const int current = browser_.Current();
    const std::optional<app::ReplayPlan> plan = app::PlanReplay(shown, current, browser_.MaxJpg(), [this](int n) {
        return std::filesystem::is_regular_file(SoundPath(dir_, n));
    });
    if (!plan) {
        replay_->setText(Q(Tr("No sound recording")));
        return;
    }
    const int playMs = player_->PlayRecording(SoundPath(dir_, plan->recording), this);
    if (playMs <= 0) {
        return;
    }
    const int from = browser_.PositionOf(plan->recording);
    const int to = browser_.PositionOf(plan->end);
    const int seconds = app::ReplayPlayMs(playMs, noActivitySeconds_) / 1000;
    TRACE_INFO("Wav (%d->%d) Pos(%d->%d) en %d sec", plan->recording, plan->end, from, to, seconds);
    char text[96];
    std::snprintf(text, sizeof text, Tr("play vorlix_%d.wav (+%d jpg)").c_str(), plan->recording, plan->pictures);
    replay_->setText(Q(text));
    browser_.ThumbTo(from);
    browser_.SetReplayEnd(to);
    scroll_->setSliderPosition(browser_.Position());
    ShowPicture();
    replayTimer_.start(app::ReplayIntervalMs(playMs, noActivitySeconds_, plan->pictures));
}

void HistoryDialog::OnReplayTick()
{
    browser_.LineRight();
    scroll_->setSliderPosition(browser_.Position());
    ShowPicture();
    if (browser_.ReplayEnd() && browser_.Position() >= *browser_.ReplayEnd()) {
        replayTimer_.stop();
    }
}

void HistoryDialog::StopReplay()
{
    replayTimer_.stop();
    browser_.SetReplayEnd(std::nullopt);
    if (player_ != nullptr) {
        player_->StopPlayback();
    }
    replay_->clear();
}

void HistoryDialog::ShowWarning(const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, QString(), Q(text), QMessageBox::Ok, this);
    box.exec();
}

void HistoryDialog::PlaybackEnded()
{
    // From the player's thread: nothing of the window is touched here.
}

void HistoryDialog::closeEvent(QCloseEvent* event)
{
    StopReplay();
    // The player belongs to the camera object, which may go before this dialog is deleted.
    player_ = nullptr;
    QDialog::closeEvent(event);
}

}  // namespace vorlix::gui
