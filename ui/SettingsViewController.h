// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings popover: a slider and the sample rate it stands for, and the unit values are shown
// in. Moving the slider snaps the rate down to a multiple of 5, stores it at once and, while
// recording, applies it at once; a unit chosen is stored and shown at once.
#include <QLabel>
#include <QPointer>
#include <QSlider>

#include <functional>
#include <memory>
#include <vector>

#include "ui/Popover.h"
#include "ui/ReviewScale.h"
#include "recording/Recorder.h"
#include "platform/sensors/Accelerometer.h"

namespace Ui {
class SettingsView;
}

// A horizontal slider whose value is a float: the thumb moves in hundredths, while the value
// keeps exactly the float it was last given (limited to the range).
class FloatSlider : public QSlider {
    Q_OBJECT
    Q_PROPERTY(float minimumValue READ minimumValue WRITE setMinimumValue)
    Q_PROPERTY(float maximumValue READ maximumValue WRITE setMaximumValue)
public:
    static constexpr int kStepsPerUnit = 100;

    explicit FloatSlider(QWidget* parent = nullptr);

    float value() const { return value_; }
    void setValue(float value);
    float minimumValue() const { return float(minimum()) / float(kStepsPerUnit); }
    void setMinimumValue(float minimum);
    float maximumValue() const { return float(maximum()) / float(kStepsPerUnit); }
    void setMaximumValue(float maximum);

signals:
    // The user changed the value: a drag (at every step), a key, the wheel or a tap on the groove.
    // Changes made through setValue are not reported.
    void moved();

private:
    void positionChanged(int position);
    void keepValueInRange();

    float value_ = 0.0f;
    bool settingValue_ = false;
};

class SettingsViewController : public PopoverContentController {
    Q_OBJECT
public:
    explicit SettingsViewController(QObject* parent = nullptr);
    ~SettingsViewController() override;

    // Shows the stored rate, as far as the slider's range allows.
    void viewDidLoad() override;
    // Snaps, shows and stores the slider's rate, and says that it changed (the recorder applies
    // it at once while recording).
    void sliderMoved();
    // Rates above the slider's 200 that the accelerometer offers, as stops of their own: one
    // chosen is shown, stored and applied as a slider move is.
    void fasterRateChosen(double rate);
    // The stops offered, for an opener to size the popover.
    static std::vector<double> fasterRates(const sensors::Accelerometer& accelerometer);

    // g or m/s², stored among the settings.
    void unitChosen(review::ValueUnit unit);

signals:
    void rateChanged();
    void unitChanged(review::ValueUnit unit);

public:
    FloatSlider* sampleRateSlider() const { return sampleRateSlider_; }
    QLabel* sampleRateLabel() const { return sampleRateLabel_; }
    // Whose stored rate this sets, the rates its device offers, and how a change is saved.
    void setRecorder(Recorder* recorder, std::function<void()> saveSoon)
    {
        recorder_ = recorder;
        saveSoon_ = std::move(saveSoon);
    }

protected:
    QWidget* loadView() override;
    void popoverDidDismiss() override;

private:
    std::unique_ptr<Ui::SettingsView> ui_;
    QPointer<Recorder> recorder_;
    std::function<void()> saveSoon_;
    QPointer<FloatSlider> sampleRateSlider_;
    QPointer<QLabel> sampleRateLabel_;
    bool rateChanged_ = false;
    bool unitChanged_ = false;
};
