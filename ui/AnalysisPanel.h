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
    // The baseline of the session's machine and point (nullptr: none): its spectra dashed beneath,
    // and each level's change from it beside the level.
    void setBaseline(const analysis::Result* baseline);

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
    // The levels that are compared with the baseline's: RMS and peak of each axis and of the
    // magnitude, and velocity RMS of each axis.
    struct Compared {
        std::array<double, 4> rms{}, peak{};
        std::array<double, 3> velocity{};
        bool hasVelocity = false;
    };
    static Compared compared(const analysis::Result& result);
    void fillLevels(const analysis::Result& result);
    // The compared levels, in the unit chosen, each with its change from the baseline's when
    // there is one.
    void fillCompared();

    std::unique_ptr<Ui::AnalysisPanel> ui_;
    AnalysisOptions options_;
    std::optional<Compared> baseline_, shown_;
    bool updating_ = false;
    review::ValueUnit unit_ = review::ValueUnit::g;
};
