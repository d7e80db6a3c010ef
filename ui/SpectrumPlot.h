// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The spectra of an analysis on axes with labels: X black, Y green, Z blue as the traces (the
// legend above the axes), the strongest peaks marked, and a cursor that reads frequency and level
// where the pointer is; a baseline's spectra dashed beneath, when one is given.
#include <qcustomplot.h>

#include <array>

#include "analysis/Result.h"

class SpectrumPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit SpectrumPlot(QWidget* parent = nullptr);

    void showResult(const analysis::Result& result);
    // No spectrum to show: the axes stay, with the reason in their middle.
    void showNothing(const QString& why);
    void setLogFrequency(bool log);
    // Another analysis's spectra (a baseline), dashed under the current ones; nullptr for none.
    void showBaseline(const analysis::Result* baseline);

    // What the cursor reads at a frequency, as shown at the top of the plot.
    QString readoutAt(double frequency) const;
    // The names of the strongest peaks, one per tone.

private:
    void pointerMoved(QMouseEvent* event);
    void fitAxes();
    void placePeakLabels();

    analysis::Result result_;
    bool logFrequency_ = false;
    std::array<QCPGraph*, 3> graphs_{};
    std::array<QCPGraph*, 3> baseline_{};
    QCPGraph* peaks_ = nullptr;
    QCPItemText* readout_ = nullptr;
    QCPItemText* empty_ = nullptr;
    QCPItemStraightLine* cursor_ = nullptr;
    QList<QCPItemText*> peakLabels_;
};
