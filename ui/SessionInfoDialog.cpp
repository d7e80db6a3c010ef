// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SessionInfoDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "platform/DateFormatter.h"
#include "platform/NumberText.h"

SessionInfoDialog::SessionInfoDialog(const Session& session, QWidget* parent)
    : QDialog(parent), original_(session.identity())
{
    setObjectName("sessionInfoDialog");
    setWindowTitle("Session "
                   + QString::fromStdString(platform::formatDate(session.dateStamp(), "yyyy-MM-dd HH:mm:ss")));
    auto* form = new QFormLayout(this);
    const auto line = [&](const char* object, const std::string& text, const char* hint) {
        auto* edit = new QLineEdit(QString::fromStdString(text), this);
        edit->setObjectName(object);
        edit->setPlaceholderText(hint);
        return edit;
    };
    name_ = line("nameField", original_.name, "what the session is called");
    machine_ = line("machineField", original_.machine, "the machine measured");
    point_ = line("pointField", original_.point, "the measurement point");
    direction_ = line("directionField", original_.direction, "direction or mounting");
    notes_ = new QPlainTextEdit(QString::fromStdString(original_.notes), this);
    notes_->setObjectName("notesField");
    notes_->setTabChangesFocus(true);
    form->addRow("Name", name_);
    form->addRow("Machine", machine_);
    form->addRow("Point", point_);
    form->addRow("Direction", direction_);
    form->addRow("Notes", notes_);
    const QString recorded =
        original_.rate > 0
            ? QString::fromStdString(original_.source + " at " + platform::shortestText(original_.rate) + " a second")
            : QString("not recorded yet");
    form->addRow("Recorded", new QLabel(recorded, this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    resize(420, sizeHint().height());
}

store::SessionIdentity SessionInfoDialog::identity() const
{
    store::SessionIdentity out = original_;
    out.name = name_->text().toStdString();
    out.machine = machine_->text().toStdString();
    out.point = point_->text().toStdString();
    out.direction = direction_->text().toStdString();
    out.notes = notes_->toPlainText().toStdString();
    return out;
}
