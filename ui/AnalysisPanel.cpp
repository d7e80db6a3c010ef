// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AnalysisPanel.h"

#include <QHeaderView>
#include <QTableWidget>

#include <cmath>

#include "analysis/Levels.h"

#include "ui/SpectrumPlot.h"
#include "platform/NumberText.h"
#include "ui_AnalysisPanel.h"

namespace {

struct Machine {
    const char* text;
    analysis::MachineGroup group;
    analysis::Foundation foundation;
};
constexpr Machine kMachines[] = {
    {"Group 2, rigid", analysis::MachineGroup::Group2, analysis::Foundation::Rigid},
    {"Group 2, flexible", analysis::MachineGroup::Group2, analysis::Foundation::Flexible},
    {"Group 1, rigid", analysis::MachineGroup::Group1, analysis::Foundation::Rigid},
    {"Group 1, flexible", analysis::MachineGroup::Group1, analysis::Foundation::Flexible},
};
constexpr double kSpans[] = {0, 10, 60, 600};

// The table's cells are made once and only their text and colours change afterwards.
QTableWidgetItem* cell(QTableWidget* table, int row, int column, const QString& text)
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
    if (item->text() != text) item->setText(text);
    return item;
}

// "+3.1", "−0.4": a change with its sign, the minus a true one.
QString signedText(double value, int decimals)
{
    const QString digits = QString::number(std::abs(value), 'f', decimals);
    if (digits.toDouble() == 0) return "±" + digits;
    return (value > 0 ? "+" : "\u2212") + digits;
}

QString grouped(long long count)
{
    return QString::fromStdString(platform::groupedCount(count));
}

QString hertz(double value)
{
    return QString::number(value, 'g', 4) + " Hz";
}

// What the spectrum is made of: whole blocks, or one zero-padded block of fewer samples.
QString blocksText(const analysis::Result& r)
{
    QString text = r.partialLength > 0
                       ? QString("one zero-padded partial block of %1 samples (resolution %2)")
                             .arg(grouped(r.partialLength), hertz(r.sampleRate / r.partialLength))
                       : QString("%1 %2").arg(grouped(r.blocksUsed), r.blocksUsed == 1 ? "block" : "blocks");
    if (r.blocksSkipped > 0) text += QString(", %1 left out for gaps in the time stamps").arg(grouped(r.blocksSkipped));
    return text;
}

// Why the zones shown are no ISO 10816 verdict, or nothing when they are one.
QString notAVerdict(const analysis::Result& r)
{
    if (!r.hasVelocity || r.isoVerdict) return {};
    QString why = QString("not an ISO 10816 verdict, which is for %1-%2")
                      .arg(analysis::kIsoBandLowHz, 0, 'g', 4)
                      .arg(hertz(analysis::kIsoBandHighHz));
    if (r.bandHighHz < analysis::kIsoBandHighHz)
        why += QString(" and needs at least %1 samples a second").arg(grouped(std::llround(analysis::kIsoBandRate)));
    return why;
}

QString velocityBand(const analysis::Result& r)
{
    return QString("velocity RMS over %1-%2").arg(r.bandLowHz, 0, 'g', 4).arg(hertz(r.bandHighHz));
}

QString statusText(const analysis::Result& r)
{
    QString status = QString("%1 a second · Nyquist %2 · N %3 · Δf %4 Hz · %5")
                         .arg(r.sampleRate, 0, 'f', 1)
                         .arg(hertz(r.nyquist()))
                         .arg(grouped(r.fftSize))
                         .arg(r.binWidth, 0, 'g', 3)
                         .arg(r.hasSpectrum ? blocksText(r) : QString("no spectrum yet"));
    if (r.hasVelocity) status += " · " + velocityBand(r);
    if (const QString why = notAVerdict(r); !why.isEmpty()) status += ": zones " + why;
    return status;
}

} // namespace

AnalysisPanel::AnalysisPanel(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::AnalysisPanel>())
{
    ui_->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    for (int n = analysis::kMinFftSize; n <= analysis::kMaxFftSize; n *= 2)
        ui_->sizeBox->addItem(QString::number(n), n);
    for (auto w : {analysis::WindowKind::Hann, analysis::WindowKind::FlatTop, analysis::WindowKind::BlackmanHarris})
        ui_->windowBox->addItem(QString::fromUtf8(analysis::toText(w).data()), int(w));
    for (auto a : {analysis::Averaging::Linear, analysis::Averaging::Exponential, analysis::Averaging::PeakHold})
        ui_->averagingBox->addItem(QString::fromUtf8(analysis::toText(a).data()), int(a));
    for (auto u : {analysis::SpectrumUnit::Amplitude, analysis::SpectrumUnit::Psd, analysis::SpectrumUnit::Decibel,
                   analysis::SpectrumUnit::Velocity})
        ui_->unitBox->addItem(QString::fromUtf8(analysis::unitLabel(u).data()), int(u));
    for (const Machine& m : kMachines) ui_->machineBox->addItem(m.text);
    ui_->spanBox->addItems({"All of it", "Last 10 s", "Last 60 s", "Last 10 min"});

    QTableWidget* table = ui_->levelsTable;
    table->setColumnCount(5);
    table->setRowCount(4);
    table->setHorizontalHeaderLabels({"RMS", "Peak", "Crest", "Velocity RMS\n(mm/s)", "ISO zone"});
    setValueUnit(unit_);
    table->setVerticalHeaderLabels({"X", "Y", "Z", "|a|"});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    setOptions(options_);
    for (QComboBox* box :
         {ui_->sizeBox, ui_->windowBox, ui_->averagingBox, ui_->unitBox, ui_->machineBox, ui_->spanBox})
        connect(box, &QComboBox::currentIndexChanged, this, &AnalysisPanel::readControls);
    for (QDoubleSpinBox* box : {ui_->bandLowBox, ui_->bandHighBox})
        connect(box, &QDoubleSpinBox::editingFinished, this, &AnalysisPanel::readControls);
    connect(ui_->logFrequencyBox, &QCheckBox::toggled, this, &AnalysisPanel::readControls);
    connect(ui_->exportAnalysisButton, &QPushButton::clicked, this, &AnalysisPanel::exportRequested);
    connect(ui_->reportButton, &QPushButton::clicked, this, &AnalysisPanel::reportRequested);
}

AnalysisPanel::~AnalysisPanel() = default;

SpectrumPlot* AnalysisPanel::plot() const
{
    return ui_->spectrumPlot;
}
QTableWidget* AnalysisPanel::levelsTable() const
{
    return ui_->levelsTable;
}

void AnalysisPanel::setOptions(const AnalysisOptions& options)
{
    options_ = options;
    updating_ = true;
    const analysis::Settings& s = options.settings;
    ui_->sizeBox->setCurrentIndex(ui_->sizeBox->findData(s.fftSize));
    ui_->windowBox->setCurrentIndex(ui_->windowBox->findData(int(s.window)));
    ui_->averagingBox->setCurrentIndex(ui_->averagingBox->findData(int(s.averaging)));
    ui_->unitBox->setCurrentIndex(ui_->unitBox->findData(int(s.unit)));
    ui_->bandLowBox->setValue(s.bandLowHz);
    ui_->bandHighBox->setValue(s.bandHighHz);
    for (int i = 0; i < int(std::size(kMachines)); ++i)
        if (kMachines[i].group == s.group && kMachines[i].foundation == s.foundation)
            ui_->machineBox->setCurrentIndex(i);
    int span = 0;
    for (int i = 0; i < int(std::size(kSpans)); ++i)
        if (kSpans[i] == options.spanSeconds) span = i;
    ui_->spanBox->setCurrentIndex(span);
    ui_->logFrequencyBox->setChecked(options.logFrequency);
    ui_->spectrumPlot->setLogFrequency(options.logFrequency);
    updating_ = false;
}

void AnalysisPanel::readControls()
{
    if (updating_) return;
    AnalysisOptions next = options_;
    analysis::Settings& s = next.settings;
    s.fftSize = ui_->sizeBox->currentData().toInt();
    s.window = analysis::WindowKind(ui_->windowBox->currentData().toInt());
    s.averaging = analysis::Averaging(ui_->averagingBox->currentData().toInt());
    s.unit = analysis::SpectrumUnit(ui_->unitBox->currentData().toInt());
    s.bandLowHz = ui_->bandLowBox->value();
    s.bandHighHz = ui_->bandHighBox->value();
    const Machine& machine = kMachines[std::max(0, ui_->machineBox->currentIndex())];
    s.group = machine.group;
    s.foundation = machine.foundation;
    next.spanSeconds = kSpans[std::max(0, ui_->spanBox->currentIndex())];
    next.logFrequency = ui_->logFrequencyBox->isChecked();
    // A band upside down is put back; everything else the boxes offer can be used.
    if (!analysis::settingsError(s).empty()) {
        setOptions(options_);
        return;
    }
    options_ = next;
    ui_->spectrumPlot->setLogFrequency(next.logFrequency);
    emit optionsChanged();
}

void AnalysisPanel::showResult(const analysis::Result& result, const QString& source)
{
    ui_->sourceLabel->setText(source);
    ui_->spectrumPlot->showResult(result);
    fillLevels(result);
    ui_->statusLabel->setText(statusText(result));
}

void AnalysisPanel::setBaseline(const analysis::Result* baseline)
{
    ui_->spectrumPlot->showBaseline(baseline);
    baseline_.reset();
    if (baseline) baseline_ = compared(*baseline);
    fillCompared();
}

AnalysisPanel::Compared AnalysisPanel::compared(const analysis::Result& r)
{
    Compared c;
    for (std::size_t row = 0; row < 4; ++row) {
        const analysis::Levels& levels = row < 3 ? r.axes[row].levels : r.magnitude;
        c.rms[row] = levels.rms;
        c.peak[row] = levels.peak;
        if (row < 3) c.velocity[row] = r.axes[row].velocityRms;
    }
    c.hasVelocity = r.hasVelocity;
    return c;
}

void AnalysisPanel::fillCompared()
{
    if (!shown_) return;
    QTableWidget* table = ui_->levelsTable;
    const auto fill = [&](int row, int column, double level, double was, int decimals, const char* unit) {
        QString text = QString::number(level, 'f', decimals);
        QString tip;
        const analysis::LevelChange c = baseline_ ? analysis::levelChange(was, level) : analysis::LevelChange{};
        if (c.valid) {
            text +=
                "\n" + signedText(c.db, 1) + " dB · " + signedText(c.percent, std::abs(c.percent) < 10 ? 1 : 0) + " %";
            tip = QString("Baseline %1 %2").arg(was, 0, 'f', decimals).arg(unit);
        }
        QTableWidgetItem* item = cell(table, row, column, text);
        item->setToolTip(tip);
        // Twice the baseline's level or more (6 dB) is worth a look.
        const QBrush brush = c.valid && c.db >= 6 ? QBrush(QColor(254, 202, 202)) : QBrush(Qt::NoBrush);
        if (item->background() != brush) item->setBackground(brush);
    };
    const Compared& now = *shown_;
    const Compared was = baseline_.value_or(Compared{});
    const double f = review::unitFactor(unit_);
    const QByteArray unit = review::unitName(unit_).toUtf8();
    for (int row = 0; row < 4; ++row) {
        const std::size_t r = std::size_t(row);
        fill(row, 0, now.rms[r] * f, was.rms[r] * f, 4, unit.constData());
        fill(row, 1, now.peak[r] * f, was.peak[r] * f, 4, unit.constData());
        if (row < 3 && now.hasVelocity) fill(row, 3, now.velocity[r], was.hasVelocity ? was.velocity[r] : 0, 2, "mm/s");
    }
}

void AnalysisPanel::showNothing(const QString& why, const QString& source)
{
    shown_.reset();
    ui_->sourceLabel->setText(source);
    ui_->spectrumPlot->showNothing(why);
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 5; ++column)
            cell(ui_->levelsTable, row, column, QString())->setBackground(Qt::NoBrush);
    ui_->statusLabel->setText(why);
}

void AnalysisPanel::fillLevels(const analysis::Result& result)
{
    QTableWidget* table = ui_->levelsTable;
    for (int row = 0; row < 4; ++row) {
        const analysis::Levels& levels = row < 3 ? result.axes[std::size_t(row)].levels : result.magnitude;
        cell(table, row, 2, QString::number(levels.crest, 'f', 2));
        QTableWidgetItem* zone = cell(table, row, 4, QString());
        if (row == 3 || !result.hasVelocity) {
            cell(table, row, 3, row == 3 ? QString() : "-")->setBackground(Qt::NoBrush);
            zone->setBackground(Qt::NoBrush);
            zone->setToolTip({});
            continue;
        }
        const analysis::AxisResult& axis = result.axes[std::size_t(row)];
        zone = cell(table, row, 4, QString::fromUtf8(analysis::zoneName(axis.zone).data()));
        zone->setTextAlignment(Qt::AlignCenter);
        // A zone of a band short of the zones' own is greyed: where it would fall, not a verdict.
        const analysis::Rgb colour = analysis::zoneColour(axis.zone);
        const QColor background = result.isoVerdict ? QColor(colour.r, colour.g, colour.b) : QColor(0xe5, 0xe7, 0xeb);
        const QColor text = !result.isoVerdict               ? QColor(0x6b, 0x72, 0x80)
                            : axis.zone == analysis::Zone::D ? Qt::white
                                                             : Qt::black;
        const QString meaning = QString::fromUtf8(analysis::zoneMeaning(axis.zone).data());
        if (zone->background().color() != background) zone->setBackground(background);
        if (zone->foreground().color() != text) zone->setForeground(text);
        zone->setToolTip(result.isoVerdict
                             ? meaning
                             : "Zone " + zone->text() + " of the " + velocityBand(result) + ", " + notAVerdict(result));
    }
    shown_ = compared(result);
    fillCompared();
}

void AnalysisPanel::setValueUnit(review::ValueUnit unit)
{
    unit_ = unit;
    const QString name = review::unitName(unit);
    for (int column : {0, 1}) {
        QTableWidgetItem* header = ui_->levelsTable->horizontalHeaderItem(column);
        if (header) header->setText(QString("%1 (%2)").arg(column ? "Peak" : "RMS", name));
    }
    fillCompared();
}
