// TButtonProgress: the busy display of a push button while a request runs. Releasing the last
// reference ends the display.
#pragma once

#include "clsInterfacedObject.h"
#include "intfButtonProgress.h"

#include <QPointer>
#include <QProgressBar>
#include <QString>

namespace zumvo {

// Height of the bar along the button's bottom edge, in pixels.
inline constexpr int ButtonProgressBarHeight = 5;

class TButtonProgress : public pallux::TInterfacedObject<IButtonProgress> {
public:
    TButtonProgress();
    ~TButtonProgress() override;

    void SetCaption(const std::string& caption) override;
    void SetPosition(std::int32_t position) override;
    void Start(QAbstractButton* control) override;
    void Stop() override;

    // The bar (for tests); null once its button has been destroyed.
    QProgressBar* Bar() const { return FBar; }

private:
    QPointer<QAbstractButton> FControl; // not owned
    QString FBusyCaption = QStringLiteral("Working...");
    QString FSavedCaption;
    bool FActive = false;
    // Owned; a QPointer because the button, once the bar's parent, may destroy it first.
    QPointer<QProgressBar> FBar;
};

// A button progress on the button: the caption (when not empty) becomes its busy caption, and
// the display starts when a button is given.
pallux::IntfPtr<IButtonProgress> ShowButtonProgress(QAbstractButton* button, const std::string& caption);

} // namespace zumvo
