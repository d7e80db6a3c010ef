// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/SessionText.h"

#include <QString>
#include <QStringList>

#include "platform/NumberText.h"

namespace {

// At most `limit` bytes, never half a UTF-8 character.
std::string cut(std::string text, std::size_t limit)
{
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string tidyLine(std::string_view text, std::size_t limit)
{
    QString line = QString::fromUtf8(text.data(), qsizetype(text.size()));
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control) c = u' ';
    return cut(line.trimmed().toStdString(), limit);
}

} // namespace

store::SessionIdentity tidyIdentity(store::SessionIdentity identity)
{
    for (std::string* line : {&identity.name, &identity.machine, &identity.point, &identity.direction})
        *line = tidyLine(*line, kIdentityLineMax);
    QString notes = QString::fromStdString(identity.notes);
    notes.remove(u'\r');
    for (QChar& c : notes)
        if (c.category() == QChar::Other_Control && c != u'\n' && c != u'\t') c = u' ';
    identity.notes = cut(notes.trimmed().toStdString(), kNotesMax);
    return identity;
}

std::string tidyMarkerText(std::string_view text)
{
    return tidyLine(text, kMarkerTextMax);
}

std::string placeText(const store::SessionIdentity& identity)
{
    if (identity.machine.empty()) return identity.point;
    if (identity.point.empty()) return identity.machine;
    return identity.machine + " \u00b7 " + identity.point;
}

bool matchesFilter(const store::SessionIdentity& identity, std::string_view startText, std::string_view filter)
{
    const QStringList words =
        QString::fromUtf8(filter.data(), qsizetype(filter.size())).simplified().split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) return true;
    const QString haystack =
        QString::fromStdString(identity.name + '\n' + identity.machine + '\n' + identity.point + '\n'
                               + identity.direction + '\n' + identity.notes + '\n' + identity.source + '\n')
        + QString::fromUtf8(startText.data(), qsizetype(startText.size()));
    for (const QString& word : words)
        if (!haystack.contains(word, Qt::CaseInsensitive)) return false;
    return true;
}

std::vector<std::pair<std::string, std::string>> identityFields(const store::SessionIdentity& identity)
{
    std::vector<std::pair<std::string, std::string>> out;
    const std::pair<const char*, const std::string*> texts[] = {
        {"name", &identity.name},           {"machine", &identity.machine}, {"point", &identity.point},
        {"direction", &identity.direction}, {"notes", &identity.notes},     {"source", &identity.source}};
    for (const auto& [key, value] : texts)
        if (!value->empty()) out.emplace_back(key, *value);
    if (identity.rate > 0) out.emplace_back("rate", platform::shortestText(identity.rate));
    return out;
}
