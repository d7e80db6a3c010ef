// SPDX-License-Identifier: GPL-3.0-or-later
// The popover: where it goes beside its control, how it closes, and who frees what.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "ui/Popover.h"

namespace {

// A plain content controller whose hold the test can take and give back.
class Content : public PopoverContentController {
public:
    using PopoverContentController::holdPastClose;
    using PopoverContentController::releaseHold;
    int dismissals = 0;

protected:
    QWidget* loadView() override { return new QWidget; }
    void popoverDidDismiss() override { ++dismissals; }
};

const QRect kScreen(0, 0, 1024, 768);
const QSize kContent(250, 300);
constexpr int kBodyW = 250 + 2 * Popover::kInset, kBodyH = 300 + 2 * Popover::kInset;

// A shown window with a button near its top, and a popover for it.
struct PopoverOnScreen : ::testing::Test {
    QWidget window;
    QPushButton* button = new QPushButton("Open", &window);
    QPointer<Content> content = new Content;
    QPointer<Popover> popover = new Popover(content);

    void SetUp() override
    {
        window.resize(600, 500);
        button->setGeometry(300, 10, 80, 60);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        content->setContentSizeForViewInPopover(QSize(200, 120));
        popover->presentPopoverFromRect(button->geometry(), &window, Popover::ArrowAny, false);
    }
    void TearDown() override { delete popover.data(); }
};

} // namespace

TEST(PopoverPlacement, GoesBelowAboveRightOrLeftOfTheControlWhereItFits)
{
    // Room below: centred under the control, arrow up at the control's centre.
    QRect top(400, 20, 80, 60);
    Popover::Placement below = Popover::place(top, kContent, kScreen, Popover::ArrowAny);
    EXPECT_EQ(below.arrow, Popover::ArrowUp);
    EXPECT_EQ(below.frame, QRect(top.center().x() - kBodyW / 2, top.bottom() + 1 + Popover::kGap, kBodyW,
                                 kBodyH + Popover::kArrowDepth));
    EXPECT_EQ(below.frame.x() + below.arrowPosition, top.center().x());

    QRect bottom(400, 700, 80, 60);
    EXPECT_EQ(Popover::place(bottom, kContent, kScreen, Popover::ArrowAny).arrow, Popover::ArrowDown);
    EXPECT_EQ(Popover::place(bottom, kContent, kScreen, Popover::ArrowAny).frame.bottom(),
              bottom.top() - 1 - Popover::kGap);

    // Too tall for either side of a control in the middle of a short screen: beside it.
    QRect shortScreen(0, 0, 1024, 400);
    Popover::Placement right = Popover::place(QRect(100, 170, 80, 60), kContent, shortScreen, Popover::ArrowAny);
    EXPECT_EQ(right.arrow, Popover::ArrowLeft);
    EXPECT_EQ(right.frame.left(), 180 + Popover::kGap);
    Popover::Placement left = Popover::place(QRect(900, 170, 80, 60), kContent, shortScreen, Popover::ArrowAny);
    EXPECT_EQ(left.arrow, Popover::ArrowRight);
    EXPECT_EQ(left.frame.right(), 899 - Popover::kGap);

    // Only the permitted sides count.
    EXPECT_EQ(Popover::place(top, kContent, kScreen, Popover::ArrowLeft).arrow, Popover::ArrowLeft);
}

TEST(PopoverPlacement, StaysOnTheScreenAndPointsAtTheControlWhereverTheControlIs)
{
    for (int x = -40; x < 1024; x += 61) {
        for (int y = -30; y < 768; y += 47) {
            for (int mask : {1, 2, 4, 8, 3, 12, 15}) {
                QRect control(x, y, 84, 72);
                Popover::Placement p = Popover::place(control, kContent, kScreen, mask);
                SCOPED_TRACE(testing::Message() << "control " << x << "," << y << " mask " << mask);
                ASSERT_TRUE(kScreen.contains(p.frame));
                ASSERT_TRUE(mask & p.arrow);
                int length = (p.arrow & 3) ? p.frame.width() : p.frame.height();
                ASSERT_GE(p.arrowPosition, Popover::kRadius + Popover::kArrowHalfWidth);
                ASSERT_LE(p.arrowPosition, length - Popover::kRadius - Popover::kArrowHalfWidth);
            }
        }
    }
    // A control at the right edge: the body slides left, the arrow still points at the control.
    QRect corner(980, 10, 40, 40);
    Popover::Placement p = Popover::place(corner, QSize(250, 85), kScreen, Popover::ArrowAny);
    EXPECT_EQ(p.frame.right(), kScreen.right());
    EXPECT_EQ(p.frame.x() + p.arrowPosition, std::min(corner.center().x(), kScreen.right() - 21));
}

TEST_F(PopoverOnScreen, ShowsTheContentAtItsSizeJustBelowTheControl)
{
    ASSERT_TRUE(popover->isPopoverVisible());
    EXPECT_TRUE(popover->isWindow());
    EXPECT_EQ(popover->parentWidget(), &window);
    EXPECT_EQ(content->parent(), popover.data());
    EXPECT_EQ(content->view()->size(), QSize(200, 120));
    EXPECT_EQ(content->view()->parentWidget(), popover.data());
    QRect control(button->mapToGlobal(QPoint(0, 0)), button->size());
    EXPECT_EQ(popover->geometry().top(), control.bottom() + 1 + Popover::kGap);
    EXPECT_LT(std::abs(popover->geometry().center().x() - control.center().x()), 2);
    EXPECT_TRUE(window.screen()->availableGeometry().contains(popover->geometry()));
    // Dark inside, around the content.
    QImage image = popover->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(popover->width() / 2, popover->contentRect().top() - 3)), QColor(0x1f, 0x29, 0x33));
}

TEST_F(PopoverOnScreen, EscapeATapOutsideOrADismissCloseItOnceAndFreeItWithItsContent)
{
    QSignalSpy dismissed(popover.data(), &Popover::didDismiss);
    QTest::keyClick(content->view(), Qt::Key_Escape);
    EXPECT_FALSE(popover->isPopoverVisible());
    popover->dismissPopoverAnimated(true);
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_EQ(content->dismissals, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popover.isNull() && content.isNull(); }));

    auto* second = new Content;
    QPointer<Popover> again = new Popover(second);
    again->presentPopoverFromRect(button->geometry(), &window, Popover::ArrowAny, true);
    ASSERT_TRUE(again->isPopoverVisible());
    // Through the window system, as a real tap arrives.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(20, 480));
    EXPECT_TRUE(QTest::qWaitFor([&] { return again.isNull(); }));
}

TEST_F(PopoverOnScreen, AnAnimatedDismissalFadesOutAndAnUnanimatedOneClosesAtOnce)
{
    popover->dismissPopoverAnimated(true);
    EXPECT_FALSE(popover->isPopoverVisible());
    EXPECT_TRUE(popover->isVisible()); // still fading
    EXPECT_TRUE(QTest::qWaitFor([&] { return popover.isNull() && content.isNull(); }));

    QPointer<Popover> again = new Popover(new Content);
    again->presentPopoverFromRect(button->geometry(), &window, Popover::ArrowAny, true);
    again->dismissPopoverAnimated(false);
    ASSERT_FALSE(again.isNull());
    EXPECT_FALSE(again->isVisible());
}

TEST_F(PopoverOnScreen, AHeldControllerOutlivesTheCloseUntilItsLastRelease)
{
    content->holdPastClose();
    content->holdPastClose();
    popover->dismissPopoverAnimated(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popover.isNull(); }));
    ASSERT_FALSE(content.isNull());
    EXPECT_EQ(content->parent(), &window); // freed with the window at the latest
    content->releaseHold();
    QTest::qWait(20);
    ASSERT_FALSE(content.isNull());
    content->releaseHold();
    EXPECT_TRUE(QTest::qWaitFor([&] { return content.isNull(); }));
}

TEST(PopoverOwnership, ControllersNeverShownAreLeftToTheirOwnerAndAnOpenPopoverGoesWithItsWindow)
{
    {
        Content standalone; // a hold released outside any popover must not free it
        standalone.holdPastClose();
        standalone.releaseHold();
        QTest::qWait(10);
    }
    auto* window = new QWidget;
    window->resize(400, 400);
    window->show();
    QPointer<Content> content = new Content;
    QPointer<Popover> popover = new Popover(content);
    popover->presentPopoverFromRect(QRect(10, 10, 50, 50), window, Popover::ArrowAny, false);
    delete window;
    EXPECT_TRUE(popover.isNull());
    EXPECT_TRUE(content.isNull());
}
