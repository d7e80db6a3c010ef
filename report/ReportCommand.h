// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// quivra report: a stored session (or a span of it) as a PDF report, and a PNG of each page.
#include <QCoreApplication>
#include <QStringList>

#include <memory>

#include "cli/Commands.h"

namespace report {

int runReport(const QStringList& arguments);

// What main hands the subcommands: the report, drawn without any display.
extern const cli::DrawingSubcommand reportSubcommand;

} // namespace report
