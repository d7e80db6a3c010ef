// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A popover: a small dark window beside the control that opened it, showing one controller's
// view. It closes when the user taps or clicks outside it, or presses Escape.
#include <QPainterPath>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

class Popover;

// A controller whose view a popover shows. The popover owns it.
class PopoverContentController : public QObject {
    Q_OBJECT
public:
    explicit PopoverContentController(QObject* parent = nullptr);
    ~PopoverContentController() override;

    // The view, loaded from the controller's interface file on first use; loading it runs
    // viewDidLoad.
    QWidget* view();
    bool isViewLoaded() const { return view_ != nullptr; }
    virtual void viewDidLoad() {}

    QSize contentSizeForViewInPopover() const { return contentSize_; }
    void setContentSizeForViewInPopover(const QSize& size) { contentSize_ = size; }

    // True while work scheduled to run later holds the controller.
    bool isHeldPastClose() const { return holds_ > 0; }

protected:
    virtual QWidget* loadView() = 0;
    // Frees the view now. A subclass calls it first thing in its destructor, so that nothing in
    // the view reaches a half-destroyed controller.
    void unloadView();
    // The popover has closed, whichever way.
    virtual void popoverDidDismiss() {}

    // Work that must still run after the popover closes holds the controller: closing the
    // popover then hands it to the popover's window instead of freeing it. The last release
    // frees a controller that its popover has let go; one that no popover ever let go is left to
    // its owner.
    void holdPastClose() { ++holds_; }
    void releaseHold();

private:
    friend class Popover;
    QPointer<QWidget> view_;
    QSize contentSize_{320, 320};
    int holds_ = 0;
    bool letGoByPopover_ = false;
};

class Popover : public QWidget {
    Q_OBJECT
public:
    // Which side of the popover its arrow is on, pointing at the control; they combine as a mask.
    enum ArrowDirection { ArrowUp = 1, ArrowDown = 2, ArrowLeft = 4, ArrowRight = 8, ArrowAny = 15 };

    // Takes ownership of the controller.
    explicit Popover(PopoverContentController* contentViewController);
    ~Popover() override;

    PopoverContentController* contentViewController() const { return content_; }
    QSize popoverContentSize() const;

    // Shows the popover beside rectInView (in inView's coordinates): below it when it fits on the
    // screen, else above, right or left of it, among the permitted arrow directions; always
    // inside the screen. It appears at once, animated or not. The popover closes and frees itself
    // once dismissed.
    void presentPopoverFromRect(const QRect& rectInView, QWidget* inView, int permittedArrowDirections, bool animated);
    // Closes: animated, the popover fades out over kFadeMilliseconds; either way it counts as
    // dismissed at once (didDismiss, isPopoverVisible). Nothing if already dismissed.
    void dismissPopoverAnimated(bool animated);
    static constexpr int kFadeMilliseconds = 120;
    bool isPopoverVisible() const { return isVisible() && !dismissed_; }

    // Where the content view sits inside the popover.
    QRect contentRect() const;

    struct Placement {
        QRect frame; // the whole popover, arrow included, in screen coordinates
        ArrowDirection arrow;
        int arrowPosition; // centre of the arrow along its edge, in popover coordinates
    };
    // Where a popover with this content goes beside anchor, within bounds (both in screen
    // coordinates): the first permitted side, in the order below, above, right, left, that fits;
    // when none fits, the first permitted side, pushed inside bounds.
    static Placement place(const QRect& anchor, const QSize& contentSize, const QRect& bounds,
                           int permittedArrowDirections);

    static constexpr int kInset = 6; // between the rounded edge and the content
    static constexpr int kArrowDepth = 10;
    static constexpr int kArrowHalfWidth = 11;
    static constexpr int kRadius = 10;
    static constexpr int kGap = 2; // between the control and the arrow's tip

signals:
    void didDismiss();

protected:
    void resizeEvent(QResizeEvent* event) override;
    QPainterPath outline() const;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The popover counts as closed from here: its controller is told, didDismiss is emitted.
    void finishDismissal();
    QPointer<PopoverContentController> content_;
    QPointer<QWidget> contentView_;
    ArrowDirection arrow_ = ArrowUp;
    int arrowPosition_ = 0;
    bool dismissed_ = false;
};
