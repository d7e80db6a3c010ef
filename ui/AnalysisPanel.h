// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis panel beside the traces: the settings of the analysis, the spectra, and a table of
// levels per axis (RMS, peak, crest factor, velocity RMS and the ISO zone in its colour). It shows
// what it is given and says, by signals, what the user changed; the main screen decides what to
// analyse.
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

#include "recording/AnalysisOptions.h"
#include "analysis/Result.h"
#include "ui/ReviewScale.h"

namespace Ui {
class AnalysisPanel;
}
class QTableWidget;
class SpectrumPlot;

class AnalysisPanel : public QWidget {
    Q_OBJECT
public:
    explicit AnalysisPanel(QWidget* parent = nullptr);
    ~AnalysisPanel() override;

    void setOptions(const AnalysisOptions& options);
    AnalysisOptions options() const { return options_; }

    // `source` says what was analysed ("Live, 200 a second", "Session ... (all of it)").
    void showResult(const analysis::Result& result, const QString& source);
    void showNothing(const QString& why, const QString& source);

    // The unit of the levels' RMS and peak (the spectrum keeps its own).
    void setValueUnit(review::ValueUnit unit);

    SpectrumPlot* plot() const;
    QTableWidget* levelsTable() const;

signals:
    void optionsChanged();
    void exportRequested();
    void reportRequested();

private:
    void readControls();
    void fillLevels(const analysis::Result& result);
    void fillAmplitudes();

    std::unique_ptr<Ui::AnalysisPanel> ui_;
    AnalysisOptions options_;
    bool updating_ = false;
    review::ValueUnit unit_ = review::ValueUnit::g;
    // The levels on show, in g, per axis and for |a|; none after showNothing.
    std::optional<std::array<analysis::Levels, 4>> levels_;
};
