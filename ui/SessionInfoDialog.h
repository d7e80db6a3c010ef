// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The info panel of a session: its name, machine, point, direction and notes to edit, and what
// Quivra noted (the source and the rate it recorded at) to read.
#include <QDialog>

#include "recording/Session.h"

class QLineEdit;
class QPlainTextEdit;

class SessionInfoDialog : public QDialog {
    Q_OBJECT
public:
    SessionInfoDialog(const Session& session, QWidget* parent = nullptr);

    // The identity as the fields now give it, Quivra's own fields as they were.
    store::SessionIdentity identity() const;

private:
    store::SessionIdentity original_;
    QLineEdit *name_, *machine_, *point_, *direction_;
    QPlainTextEdit* notes_;
};
