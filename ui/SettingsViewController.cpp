// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SettingsViewController.h"

#include <QLabel>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "recording/Options.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"
#include "ui_SettingsView.h"

// ---- the float slider ----

FloatSlider::FloatSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    // A key or wheel step of 5 always reaches the next multiple of 5 after snapping down; a step
    // of 1 would snap straight back.
    setSingleStep(5 * kStepsPerUnit);
    setPageStep(25 * kStepsPerUnit);
    setTracking(true);
    connect(this, &QAbstractSlider::valueChanged, this, &FloatSlider::positionChanged);
}

void FloatSlider::setValue(float value)
{
    const float low = minimumValue(), high = maximumValue();
    value_ = std::isnan(value) ? low : std::clamp(value, low, high);
    settingValue_ = true;
    QSlider::setValue(int(std::lround(double(value_) * kStepsPerUnit)));
    settingValue_ = false;
}

void FloatSlider::setMinimumValue(float minimum)
{
    settingValue_ = true;
    setMinimum(int(std::lround(double(minimum) * kStepsPerUnit)));
    settingValue_ = false;
    keepValueInRange();
}

void FloatSlider::setMaximumValue(float maximum)
{
    settingValue_ = true;
    setMaximum(int(std::lround(double(maximum) * kStepsPerUnit)));
    settingValue_ = false;
    keepValueInRange();
}

void FloatSlider::keepValueInRange()
{
    setValue(value_);
}

void FloatSlider::positionChanged(int position)
{
    if (settingValue_) return;
    value_ = float(position) / float(kStepsPerUnit);
    emit moved();
}

// ---- the controller ----

SettingsViewController::SettingsViewController(QObject* parent) : PopoverContentController(parent) {}

SettingsViewController::~SettingsViewController()
{
    unloadView();
}

QWidget* SettingsViewController::loadView()
{
    auto* view = new QWidget;
    ui_ = std::make_unique<Ui::SettingsView>();
    ui_->setupUi(view);
    sampleRateSlider_ = ui_->sampleRateSlider;
    sampleRateLabel_ = ui_->sampleRateLabel;
    connect(sampleRateSlider_, &FloatSlider::moved, this, &SettingsViewController::sliderMoved);
    connect(ui_->unitGButton, &QToolButton::clicked, this, [this] { unitChosen(review::ValueUnit::g); });
    connect(ui_->unitMetricButton, &QToolButton::clicked, this,
            [this] { unitChosen(review::ValueUnit::metresPerSecondSquared); });
    return view;
}

std::vector<double> SettingsViewController::fasterRates(const sensors::Accelerometer& accelerometer)
{
    std::vector<double> out;
    for (double rate : accelerometer.availableRates())
        if (rate > 200.0) out.push_back(rate);
    return out;
}

void SettingsViewController::viewDidLoad()
{
    PopoverContentController::viewDidLoad();
    if (!recorder_ || !sampleRateSlider_) return;
    const bool metric = review::unitFromStored(recorder_->root().managedObjectContext()->settings())
                        == review::ValueUnit::metresPerSecondSquared;
    (metric ? ui_->unitMetricButton : ui_->unitGButton)->setChecked(true);
    const int stored = recorder_->root().options().framerate();
    sampleRateSlider_->setValue(float(stored));
    if (sampleRateLabel_) sampleRateLabel_->setText(QString::asprintf("%i", int(sampleRateSlider_->value())));
    const std::vector<double> faster = fasterRates(recorder_->accelerometer());
    ui_->fasterRates->setVisible(!faster.empty());
    for (double rate : faster) {
        auto* stop = new QToolButton(ui_->fasterRates);
        stop->setText(QString::number(rate));
        stop->setCheckable(true);
        stop->setAutoExclusive(true);
        stop->setFocusPolicy(Qt::NoFocus);
        stop->setChecked(int(rate) == stored);
        if (int(rate) == stored && sampleRateLabel_) sampleRateLabel_->setText(QString::number(stored));
        connect(stop, &QToolButton::clicked, this, [this, rate] { fasterRateChosen(rate); });
        ui_->fasterRatesLayout->addWidget(stop);
    }
    sampleRateSlider_->setFocus();
}

void SettingsViewController::fasterRateChosen(double rate)
{
    if (!recorder_ || !sampleRateSlider_) return;
    sampleRateSlider_->setValue(sampleRateSlider_->maximumValue());
    if (sampleRateLabel_) sampleRateLabel_->setText(QString::number(int(rate)));
    recorder_->root().options().setFramerate(std::int32_t(rate));
    rateChanged_ = true;
    emit rateChanged();
}

void SettingsViewController::sliderMoved()
{
    if (!sampleRateSlider_) return;
    const float v = sampleRateSlider_->value();
    const int r = int(v) % 5;
    // The fraction stays on the slider: 32.7 becomes 30.7.
    sampleRateSlider_->setValue(v - float(r));
    const float w = sampleRateSlider_->value();
    if (sampleRateLabel_) sampleRateLabel_->setText(QString::asprintf("%i", int(w)));
    // Back on the slider: no faster stop stays chosen.
    for (QToolButton* stop : ui_->fasterRates->findChildren<QToolButton*>()) {
        stop->setAutoExclusive(false);
        stop->setChecked(false);
        stop->setAutoExclusive(true);
    }

    if (!recorder_) return;
    Options options = recorder_->root().options();
    options.setFramerate(std::int32_t(w));
    rateChanged_ = true;
    emit rateChanged();
}

void SettingsViewController::unitChosen(review::ValueUnit unit)
{
    if (!recorder_) return;
    recorder_->root().managedObjectContext()->setSetting(review::kUnitSetting, review::unitToStored(unit));
    unitChanged_ = true;
    emit unitChanged(unit);
}

void SettingsViewController::popoverDidDismiss()
{
    // Closing is a safe point: a changed setting goes to disk now.
    if (!rateChanged_ && !unitChanged_) return;
    rateChanged_ = unitChanged_ = false;
    if (saveSoon_) saveSoon_();
}
