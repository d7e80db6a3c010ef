// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis panel beside the traces: the settings of the analysis, the spectra, and a table of
// levels per axis (RMS, peak, crest factor, velocity RMS and the ISO zone in its colour). It shows
// what it is given and says, by signals, what the user changed; the main screen decides what to
// analyse.
#include <QString>
#include <QWidget>

#include <memory>

#include "recording/AnalysisOptions.h"
#include "analysis/Result.h"

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

    SpectrumPlot* plot() const;
    QTableWidget* levelsTable() const;

signals:
    void optionsChanged();
    void exportRequested();
    void reportRequested();

private:
    void readControls();
    void fillLevels(const analysis::Result& result);

    std::unique_ptr<Ui::AnalysisPanel> ui_;
    AnalysisOptions options_;
    bool updating_ = false;
};
