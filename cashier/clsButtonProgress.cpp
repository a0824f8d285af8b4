#include "clsButtonProgress.h"

#include <QAbstractButton>

#include <algorithm>

namespace zumvo {

TButtonProgress::TButtonProgress() : FBar(new QProgressBar()) {
    FBar->setRange(0, 100);
    FBar->setTextVisible(false);
}

TButtonProgress::~TButtonProgress() {
    if (FActive)
        Stop();
    delete FBar.data();
}

void TButtonProgress::SetCaption(const std::string& caption) {
    FBusyCaption = QString::fromStdString(caption);
}

void TButtonProgress::SetPosition(std::int32_t position) {
    if (FBar)
        FBar->setValue(std::clamp(position, 0, 100));
}

void TButtonProgress::Start(QAbstractButton* control) {
    if (!control || !FBar)
        return;
    FControl = control;
    FSavedCaption = control->text();
    FBar->setParent(control);
    FBar->setRange(0, 100);
    FBar->setValue(0);
    const QRect client = control->contentsRect();
    FBar->setGeometry(0, client.height() - ButtonProgressBarHeight, client.width(), ButtonProgressBarHeight);
    FBar->show();
    control->setEnabled(false);
    control->setText(FBusyCaption);
    // Painted now: the request that follows holds the event loop, and the cashier must see that
    // the press was taken for as long as it runs.
    control->repaint();
    FActive = true;
}

void TButtonProgress::Stop() {
    if (!FControl)
        return;
    FControl->setText(FSavedCaption);
    FControl->setEnabled(true);
}

pallux::IntfPtr<IButtonProgress> ShowButtonProgress(QAbstractButton* button, const std::string& caption) {
    auto progress = pallux::MakeIntf<TButtonProgress>();
    if (!caption.empty())
        progress->SetCaption(caption);
    if (button)
        progress->Start(button);
    return progress;
}

} // namespace zumvo
